// The fold of the judgements into the session's verdict.
#include "loopcheck/verdict/verdict.hpp"

#include <algorithm>

bool verdict_skips(const mode_check& c, const verdict_rules& rules)
{
    if (!rules.skip_if_no_loop || c.result != check_result::fail)
        return false;
    // No device of the name given: the stream's failure in the words devices_choose gives it.
    const bool no_device =
        c.name == "stream" && c.fails_with == check_status::error && c.words.starts_with("no device");
    return c.fails_with == check_status::no_loop || no_device;
}

check_verdict verdict_fold(std::span<const mode_judgement* const> judgements, const verdict_rules& rules)
{
    check_verdict v;
    for (const mode_judgement* j : judgements) {
        for (const mode_check& c : j->checks)
            if (verdict_skips(c, rules)) {
                mode_check skip = c;
                skip.fails_with = check_status::skipped;
                skip.words = "skip: " + c.words;
                v.failed.push_back(skip);
            } else if (c.result == check_result::fail && c.fails_with != check_status::ok) {
                v.failed.push_back(c);
            }
        if (!j->note.empty())
            v.notes.push_back(j->note);
    }
    // The deciding failure first; the rest after it in the same order, so
    // that every check that failed is named.
    std::stable_sort(v.failed.begin(), v.failed.end(), [](const mode_check& a, const mode_check& b) {
        return check_status_rank(a.fails_with) < check_status_rank(b.fails_with);
    });
    if (!v.failed.empty())
        v.status = v.failed.front().fails_with;
    return v;
}

bool verdict_program_failure(check_status status)
{
    return status == check_status::error || status == check_status::interrupted;
}

std::string verdict_named(const std::string& words) { return "loopcheck: " + words; }

std::string verdict_message(const check_verdict& v)
{
    std::string message;
    const auto add = [&message](const std::string& words) {
        if (!words.empty())
            message += (message.empty() ? "" : "; ") + words;
    };
    for (const mode_check& c : v.failed)
        add(verdict_program_failure(c.fails_with) ? verdict_named(c.words) : c.words);
    for (const std::string& note : v.notes)
        add(note);
    return message;
}

int verdict_exit_code(const check_verdict& v) { return check_status_of(v.status).exit_code; }
