// The CSV writers.
#include "loopcheck/files.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

bool response_write(const std::string& path, std::span<const response_row> rows)
{
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    std::fprintf(f, "frequency_hz,level_db,phase_deg,snr_db\n");
    for (const response_row& row : rows)
        std::fprintf(f, "%.4f,%.4f,%.3f,%.1f%s\n", row.hz, row.level_db, row.phase_deg, row.snr_db,
                     row.snr_db < response_snr_floor_db ? ",low snr" : "");
    return std::fclose(f) == 0;
}

bool ir_write(const std::string& path, const impulse_response& r, int64_t peak)
{
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return false;
    const int64_t scale = std::max<int64_t>(1, std::lrint(r.rate / 48000.0));
    std::fprintf(f, "frame,value\n");
    for (int64_t lag = peak - 256 * scale; lag <= peak + 1024 * scale; lag++)
        std::fprintf(f, "%lld,%.9g\n", static_cast<long long>(lag), r.ir[static_cast<size_t>((lag + r.n) % r.n)]);
    return std::fclose(f) == 0;
}
