// The run as LAVA's result lines, one a check: "NAME RESULT [MEASUREMENT [UNITS]]",
// what a test definition hands lava-test-case (NAME --result RESULT
// --measurement MEASUREMENT --units UNITS). LAVA's names and units are
// words: letters, digits, '.', '_' and '-'; anything else becomes '_'.
#include <cmath>

#include "loopcheck/results/results.hpp"

namespace {

std::string word(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                          c == '_' || c == '-';
        if (kept)
            out += c;
        else if (out.empty() || out.back() != '_')
            out += '_';
    }
    while (!out.empty() && out.back() == '_')
        out.pop_back();
    return out.empty() ? "_" : out;
}

const char* result_word(check_result r)
{
    return r == check_result::pass ? "pass" : r == check_result::fail ? "fail" : "skip";
}

}  // namespace

std::string results_lava(const results_run& run)
{
    std::string text;
    for (const results_mode& m : run.modes) {
        if (m.checks.empty() && !m.ran) {
            text += word(m.name) + " skip\n";
            continue;
        }
        const std::vector<std::string> names = results_case_names(m);
        for (size_t i = 0; i < m.checks.size(); i++) {
            const mode_check& c = m.checks[i];
            text += word(m.name + "." + names[i]) + " " + result_word(c.result);
            if (c.value && std::isfinite(*c.value)) {
                text += " " + results_number(*c.value);
                if (!c.unit.empty())
                    text += " " + word(c.unit);
            }
            text += "\n";
        }
    }
    return text;
}
