// The run's environment as the JSON gives it ("environment"): the machine,
// its system, loopcheck's build, the audio libraries and the host API, and the
// hardware behind the devices; and the schema's version the JSON follows.
#pragma once
#include <nlohmann/json.hpp>

#include "loopcheck/mode.hpp"

// The version of docs/loopcheck.schema.json the JSON follows (its changelog is in docs/loopcheck.md).
inline constexpr const char* report_schema_version = "1.2";

nlohmann::ordered_json report_environment_json(const session_result& result);

// What identifies the interface across runs (identity_key over the devices' names).
std::string report_identity_key(const session_result& result);
