// The mode table, and the option table it makes with the session's own rows.
#include "loopcheck/modes.hpp"

#include <vector>

#include "loopcheck/buffers/buffers.hpp"
#include "loopcheck/idle/idle.hpp"
#include "loopcheck/latency/latency.hpp"
#include "loopcheck/monitor/monitor.hpp"
#include "loopcheck/options/option_table.hpp"
#include "loopcheck/quality/quality.hpp"
#include "loopcheck/reopen/reopen.hpp"

std::span<const mode_row> loopcheck_modes()
{
    static const std::vector<mode_row> modes = {latency_mode(), quality_mode(), idle_mode(),
                                                monitor_mode(), buffers_mode(), reopen_mode()};
    return modes;
}

std::span<const option_row> loopcheck_option_rows()
{
    static const std::vector<option_row> rows = [] {
        std::vector<option_row> all;
        for (const std::span<const option_row> part : {option_stream_rows(), option_output_rows()})
            all.insert(all.end(), part.begin(), part.end());
        for (const mode_row& mode : loopcheck_modes())
            all.insert(all.end(), mode.options.begin(), mode.options.end());
        const std::span<const option_row> program = option_program_rows();
        all.insert(all.end(), program.begin(), program.end());
        return all;
    }();
    return rows;
}
