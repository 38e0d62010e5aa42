// The session: the stream, the modes in order, and one teardown.
#include "loopcheck/session.hpp"

#include <exception>
#include <utility>

std::atomic<bool> session_interrupted{false};

namespace {

// The stream's failure as the setup's judgement, and every mode not run for it.
void unopened(session_result& r, std::vector<session_mode>& modes, check_status status, const std::string& words)
{
    r.setup.checks.push_back(check_failed("stream", status, words));
    for (session_mode& m : modes) {
        const std::any outcome = m.mode->unrun(m.plan, {false, check_status::ok, "the stream never started", ""});
        r.modes.push_back({m.mode, outcome, m.mode->ended(outcome), m.mode->judge(outcome)});
    }
}

// A mode that threw (the analysis refusing its input, memory run out) ends
// with an error and the exception's words.
mode_end thrown(const mode_row& mode, const std::exception& e)
{
    return {false, check_status::error, std::string(mode.said) + ": " + e.what(), ""};
}

}  // namespace

session_result session_unopened(const stream_request& request, std::vector<session_mode> modes, check_status status,
                                const std::string& words)
{
    session_result r;
    r.request = request;
    unopened(r, modes, status, words);
    return r;
}

void session_run(const stream_request& request, std::vector<session_mode> modes, const session_hooks& hooks,
                 session_result& r)
{
    r.request = request;
    std::string problem;
    const stream_ptr opened = hooks.open(request, problem);
    stream& s = *opened;
    r.facts = stream_facts_of(s);
    if (!problem.empty())
        return unopened(r, modes, check_status::error, problem);
    // A mode alone takes the session to itself: the others asked are not run.
    const session_mode* alone = nullptr;
    for (const session_mode& m : modes)
        if (m.mode->alone)
            alone = &m;
    // Each mode's program given to the stream before it starts.
    std::vector<mode_end> failed(modes.size());
    for (size_t i = 0; i < modes.size(); i++) {
        session_mode& m = modes[i];
        if ((alone && alone != &m) || !m.mode->prepare)
            continue;
        try {
            problem = m.mode->prepare(m.plan, s);
        } catch (const std::exception& e) {
            failed[i] = thrown(*m.mode, e);
        }
        if (!problem.empty())
            return unopened(r, modes, check_status::error, problem);
    }
    problem = stream_start(s);
    r.facts = stream_facts_of(s);
    if (!problem.empty())
        return unopened(r, modes, check_status::error, problem);

    const stream_pace pace = hooks.pace;
    mode_run run{s, [&s, &pace](int64_t until) { return stream_wait_frames(s, until, session_interrupted, pace); },
                 &session_interrupted, pace, hooks.live};
    mode_prior prior;
    for (size_t i = 0; i < modes.size(); i++) {
        const session_mode& m = modes[i];
        std::any outcome;
        if (alone && alone != &m)
            outcome = m.mode->unrun(m.plan, {});
        else if (failed[i].failure != check_status::ok)
            outcome = m.mode->unrun(m.plan, failed[i]);
        else if (m.mode->plays_on_loop && !prior.blocked.empty())
            outcome = m.mode->unrun(m.plan, {false, check_status::ok, prior.blocked, ""});
        else
            try {
                outcome = m.mode->run(m.plan, prior, run);
            } catch (const std::exception& e) {
                outcome = m.mode->unrun(m.plan, thrown(*m.mode, e));
            }
        mode_result result{m.mode, std::move(outcome), {}, {}};
        result.end = m.mode->ended(result.outcome);
        result.judgement = m.mode->judge(result.outcome);
        if (prior.blocked.empty())
            prior.blocked = result.judgement.blocks;
        if (m.mode->hand_on && result.end.ran)
            m.mode->hand_on(result.outcome, prior);
        r.live_ran = r.live_ran || (m.mode->live && result.end.ran);
        r.modes.push_back(std::move(result));
        if (!alone)
            r.buffer_granted = stream_largest_buffer(s);
    }
}
