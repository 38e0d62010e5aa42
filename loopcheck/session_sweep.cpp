// The buffer sweep: a session per size, the host's size set before each and
// put back after the last.
#include <cmath>
#include <memory>
#include <utility>

#include "loopcheck/io/server_buffer.hpp"
#include "loopcheck/session.hpp"
#include "loopcheck/verdict/sweep_rows.hpp"
#include "loopcheck/verdict/verdict.hpp"

namespace {

// The sizes of --buffers all: every power of two from 16 to 8192 frames, the
// span JACK servers and ASIO drivers offer; each row says what was granted.
std::vector<int64_t> sizes_of(const sweep_settings& o)
{
    if (!o.all)
        return o.sizes;
    std::vector<int64_t> sizes;
    for (int64_t n = 16; n <= 8192; n *= 2)
        sizes.push_back(n);
    return sizes;
}

// The JACK server's size, held from the first size to the end: whatever way
// the sweep leaves by (an exception included), the destructor puts it back.
struct server_hold {
    server_buffer* server = server_buffer_open();
    sweep_facts* facts = nullptr;
    ~server_hold() { release(); }
    void release()
    {
        if (!server)
            return;
        const int64_t original = server_buffer_original(server);
        const std::string problem = server_buffer_close(std::exchange(server, nullptr));
        if (facts)
            facts->restored = problem.empty(), facts->restore_problem = problem, facts->original = original;
    }
};

// The session at one size: the command line's, with the size as its buffer
// and the soak as a monitor run.
check_report size_report(const check_options& options, int64_t size)
{
    check_report r;
    r.options = options;
    r.options.sweep.on = false;
    r.options.buffer = size;
    r.options.monitor = {};
    r.options.monitor.on = true;
    r.options.monitor.duration_s = options.sweep.soak_s;
    r.options.report_file.clear();
    return r;
}

// The device and host the sizes ran on, for the sweep's own record: the first
// size's that opened.
void take_device(check_report& r, const check_report& size)
{
    if (!r.host_api.empty() || size.host_api.empty())
        return;
    r.host_api = size.host_api;
    r.in_device = size.in_device, r.out_device = size.out_device;
    r.in_name = size.in_name, r.out_name = size.out_name;
    r.rate = size.rate;
    r.input_is_monitor = size.input_is_monitor;
}

// A size's failure as the sweep's own: its words without the program's name,
// which the verdict puts before an error once.
mode_end failure_of(const check_verdict& v)
{
    const std::string prefix = "loopcheck: ";
    std::string words = v.message;
    if (words.compare(0, prefix.size(), prefix) == 0)
        words.erase(0, prefix.size());
    return {true, v.status, words, ""};
}

}  // namespace

void session_sweep_run(check_report& r, const session_hooks& hooks)
{
    sweep_facts& f = r.sweep;
    f.on = true;
    f.soak_s = r.options.sweep.soak_s, f.load_percent = r.options.sweep.load_percent;
    server_hold hold;
    hold.facts = &f;
    f.server_wide = hold.server != nullptr;
    f.server = hold.server ? "the JACK server" : "";
    f.original = server_buffer_original(hold.server);
    session_hooks quiet = hooks;
    quiet.monitor = {};  // the soak's lines would bury the table: each size's row says what it found
    mode_end first_failure;
    for (const int64_t size : sizes_of(r.options.sweep)) {
        if (session_interrupted.load())
            break;
        int64_t server = 0;
        if (hold.server) {
            std::string problem;
            const int64_t before = server_buffer_size(hold.server);
            server = server_buffer_set(hold.server, size, problem);
            // A size it rounds is measured, granted beside requested; one it ignored is refused.
            if (problem.empty() && server != size && server == before)
                problem = f.server + " stayed at " + std::to_string(server) + " frames";
            if (!problem.empty()) {
                sweep_row refused;
                refused.requested = size, refused.granted = server, refused.refused = true;
                refused.reason = problem;
                f.rows.push_back(refused);
                if (hooks.on_size)
                    hooks.on_size(r, f.rows.back());
                continue;
            }
        }
        check_report at = size_report(r.options, size);
        session_run(at, quiet);
        take_device(r, at);
        f.rows.push_back(sweep_row_of(at, size, server));
        const check_verdict v = verdict_judge(at);
        if (first_failure.failure == check_status::ok && !v.measured)
            first_failure = failure_of(v);
        if (hooks.on_size)
            hooks.on_size(r, f.rows.back());
        if (v.status == check_status::error && at.setup.failure == check_status::error) {
            // The stream would not open: the next size would not either.
            first_failure = failure_of(v);
            break;
        }
    }
    hold.release();
    r.buffers = sweep_end_of(f, session_interrupted.load(), first_failure);
    if (r.buffers.failure == check_status::ok && first_failure.failure == check_status::error)
        r.buffers.failure = check_status::error, r.buffers.reason = first_failure.reason;
    if (!f.restore_problem.empty())
        r.buffers.failure = check_status::error,
        r.buffers.reason += (r.buffers.reason.empty() ? "" : "; ") + f.restore_problem;
}
