// loopcheck's command line read as the program reads it: the parser over the
// option table, then the session's own options, then each mode's, in the
// table's order, the first refusal kept; the plans of the modes asked.
#pragma once
#include <any>
#include <map>
#include <string>
#include <vector>

#include "loopcheck/modes.hpp"
#include "loopcheck/options/options.hpp"

struct parsed_command {
    options_next next = options_next::refused;
    std::string refusal;  // the reason, as standard error and --json's object give it after the program's name
    option_values values;
    session_options session;
    std::map<std::string, std::any> plans;  // the modes asked, by name
    template <typename Plan>
    const Plan& plan(const std::string& mode) const
    {
        return std::any_cast<const Plan&>(plans.at(mode));
    }
};

inline parsed_command loopcheck_parse(std::vector<std::string> words)
{
    words.insert(words.begin(), "loopcheck");
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    parsed_command p;
    p.next = options_parse(static_cast<int>(argv.size()), argv.data(), loopcheck_option_rows(), p.values, p.refusal);
    if (p.next != options_next::measure)
        return p;
    p.refusal = options_session(p.values, p.session);
    for (const mode_row& mode : loopcheck_modes()) {
        std::any plan;
        bool asked = false;
        const std::string problem = mode.read(p.values, plan, asked);
        if (p.refusal.empty())
            p.refusal = problem;
        if (asked)
            p.plans[mode.name] = plan;
    }
    if (!p.refusal.empty())
        p.next = options_next::refused;
    return p;
}
