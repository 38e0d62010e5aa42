// The checks every judge makes alike.
#include "loopcheck/outcome/judgement.hpp"

#include <utility>

mode_check check_failed(const std::string& name, check_status status, const std::string& words)
{
    mode_check c;
    c.name = name;
    c.result = check_result::fail;
    c.fails_with = status;
    c.words = words;
    return c;
}

void check_end(mode_judgement& j, const std::string& name, const mode_end& end)
{
    if (end.failure != check_status::ok)
        j.checks.push_back(check_failed(name, end.failure, end.reason));
}

std::string check_unit_of(const std::string& name)
{
    static constexpr std::pair<const char*, const char*> units[] = {
        {"_dbfs", "dBFS"}, {"_db", "dB"}, {"_frames", "frames"}, {"_hz", "Hz"},
        {"_ppm", "ppm"},   {"_ms", "ms"}, {"_pct", "%"},
    };
    for (const auto& [suffix, unit] : units)
        if (name.ends_with(suffix))
            return unit;
    return "";
}
