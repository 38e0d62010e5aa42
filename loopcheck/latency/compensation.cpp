// What to type where: JACK's -I/-O, PipeWire's latency.internal.rate, a DAW's offset.
#include "loopcheck/latency/compensation.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "loopcheck/io/stream.hpp"

namespace {

std::string printed(const char* format, double a, double b = 0.0, double c = 0.0)
{
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

}  // namespace

compensation_input::server_kind compensation_server_of(const std::string& jack_library)
{
    if (jack_library.empty())
        return compensation_input::server_kind::unknown;
    const size_t slash = jack_library.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : jack_library.substr(0, slash);
    return folder.find("pipewire") != std::string::npos ? compensation_input::server_kind::pipewire
                                                        : compensation_input::server_kind::jackd;
}

compensation_figures compensation_figures_of(const compensation_input& in)
{
    compensation_figures f;
    f.jack = in.host_api.find("JACK") != std::string::npos;
    f.excess = in.reported_known ? in.round_trip - in.reported_in - in.reported_out : in.round_trip;
    const double most = 10.0 * in.rate;
    const bool server_known = in.reported_known && in.server_in >= 0.0 && in.server_out >= 0.0 &&
                              in.server_in <= most && in.server_out <= most;
    f.server_known = server_known;
    f.server_excess = server_known ? in.round_trip - in.server_in - in.server_out : f.excess;
    f.none_to_add = (in.reported_known && f.excess < -0.5) || (f.jack && f.server_excess < -0.5);
    f.split = compensation_split_of(f.server_excess);
    f.daw_offset = std::llrint(std::max(0.0, f.server_excess));
    f.daw_whole = std::llrint(in.round_trip);
    f.plus_minus = in.spread >= 0.0 ? in.spread / 2.0 : -1.0;
    return f;
}

nlohmann::ordered_json compensation_json(const compensation_input& in)
{
    using json = nlohmann::ordered_json;
    const compensation_figures f = compensation_figures_of(in);
    const bool jackd = f.jack && !f.none_to_add && in.server != compensation_input::server_kind::pipewire;
    const bool pipewire = f.jack && !f.none_to_add && in.server != compensation_input::server_kind::jackd;
    const char* server = !f.jack                                                  ? nullptr
                         : in.server == compensation_input::server_kind::jackd    ? "jackd"
                         : in.server == compensation_input::server_kind::pipewire ? "pipewire"
                                                                                  : "unknown";
    json lines = json::array();
    for (std::string line : compensation_lines(in)) {
        line.pop_back();  // the "\n"
        lines.push_back(line);
    }
    return {{"server", server ? json(server) : json(nullptr)},
            {"excess_frames", f.excess},
            {"server_excess_frames", f.server_excess},
            {"none_to_add", f.none_to_add},
            {"jackd", jackd ? json{{"input_frames", f.split.input}, {"output_frames", f.split.output}} : json(nullptr)},
            {"pipewire", pipewire ? json{{"input_rate_frames", f.split.input}, {"output_rate_frames", f.split.output}}
                                  : json(nullptr)},
            {"daw_offset_samples", f.none_to_add && !f.jack ? json(nullptr) : json(f.daw_offset)},
            {"daw_whole_samples", f.daw_whole},
            {"plus_minus_frames", f.plus_minus >= 0.0 ? json(f.plus_minus) : json(nullptr)},
            {"lines", lines}};
}

compensation_input compensation_input_of(const stream_facts& f, double round_trip, double spread)
{
    compensation_input in{
        f.host_api, f.rate, round_trip, f.input_latency_frames, f.output_latency_frames, stream_reported_known(f),
        spread};
    in.server_in = f.server_input_frames;
    in.server_out = f.server_output_frames;
    in.server = compensation_server_of(f.jack_library);
    return in;
}

compensation_split compensation_split_of(double excess)
{
    const long long whole = std::llrint(std::max(0.0, excess));
    return {whole / 2, whole - whole / 2};
}

std::vector<std::string> compensation_lines(const compensation_input& in)
{
    std::vector<std::string> lines;
    const compensation_figures f = compensation_figures_of(in);
    const double reported = in.reported_in + in.reported_out;
    const double excess = f.excess, server_excess = f.server_excess;
    const long long whole = f.daw_whole;
    const std::string what = in.reported_known ? "the " + printed("%.3f", excess) + " frames the host does not report"
                                               : "the whole round trip (the host's report is not to be believed)";
    if (in.reported_known && excess < -0.5) {
        lines.push_back("compensation: none to add: the host reports " + printed("%.3f", reported) +
                        " frames, more than the " + printed("%.3f", in.round_trip) +
                        " measured; lower what is set (-I/-O, latency.internal.*) by " + printed("%.0f", -excess) +
                        " frames\n");
        return lines;
    }
    const bool jack = f.jack;
    // -I/-O and latency.internal.* add to what the server's ports report:
    // the excess over those (one buffer more on each side than reported_*).
    const std::string server_what = f.server_known ? "the " + printed("%.3f", server_excess) +
                                                         " frames JACK's ports do not report (they report " +
                                                         printed("%.0f", in.server_in + in.server_out) + ")"
                                                   : what;
    const compensation_split split = f.split;
    const std::string plus_minus = f.plus_minus >= 0.0 ? " ± " + printed("%.1f", f.plus_minus) : "";
    const bool jackd = jack && in.server != compensation_input::server_kind::pipewire;
    const bool pipewire = jack && in.server != compensation_input::server_kind::jackd;
    if (jack && server_excess < -0.5) {
        lines.push_back("compensation, JACK: none to add: the server's ports report " +
                        printed("%.0f", in.server_in + in.server_out) + " frames, more than the " +
                        printed("%.3f", in.round_trip) + " measured (a backend that buffers less than it reports, " +
                        "as the dummy; or -I/-O, latency.internal.* set too high: lower them by " +
                        printed("%.0f", -server_excess) + " frames)\n");
    } else if (jackd)
        lines.push_back("compensation, jackd: start jackd's backend with -I " + std::to_string(split.input) + " -O " +
                        std::to_string(split.output) + plus_minus + " (e.g. jackd -d alsa -d hw:X -I " +
                        std::to_string(split.input) + " -O " + std::to_string(split.output) +
                        ", added to what is set): " + server_what +
                        ", split half and half as jack_iodelay does (one loop cannot tell input from output; the sum "
                        "is what counts)\n");
    // On PipeWire's JACK face the card's nodes are PipeWire's: a rule for
    // every ALSA card's nodes, to be narrowed to the card's (pw-cli ls Node).
    if (pipewire && server_excess >= -0.5) {
        const std::string in_rate = std::to_string(split.input), out_rate = std::to_string(split.output);
        lines.push_back(
            "compensation, PipeWire (its JACK face): a WirePlumber 0.5 rule "
            "(~/.config/wireplumber/wireplumber.conf.d/51-latency.conf), then restart wireplumber: "
            "monitor.alsa.rules = [ { matches = [ { node.name = \"~alsa_input.*\" } ] actions = { update-props = { "
            "latency.internal.rate = " +
            std::to_string(split.input) +
            " } } } { matches = [ { node.name = \"~alsa_output.*\" } ] actions = { update-props = { "
            "latency.internal.rate = " +
            std::to_string(split.output) + " } } } ]" + plus_minus +
            " (narrow node.name to the card's, as pw-cli ls Node names it): " + server_what +
            ", split half and half\n");
        // WirePlumber 0.4 (Debian 12, Ubuntu 22.04) reads Lua, not the rule
        // above; pw-cli sets the same at once, until the node is made again.
        lines.push_back(
            "compensation, PipeWire with WirePlumber 0.4 (its rules are Lua): "
            "~/.config/wireplumber/main.lua.d/51-latency.lua, then restart wireplumber: "
            "table.insert(alsa_monitor.rules, { matches = { { { \"node.name\", \"matches\", "
            "\"alsa_input.*\" } } }, apply_properties = { [\"latency.internal.rate\"] = " +
            in_rate +
            " } }) table.insert(alsa_monitor.rules, { matches = { { { \"node.name\", \"matches\", "
            "\"alsa_output.*\" } } }, apply_properties = { [\"latency.internal.rate\"] = " +
            out_rate + " } })\n");
        lines.push_back(
            "compensation, PipeWire at once (until the node is made again): pw-cli set-param "
            "<the card's input node id> ProcessLatency '{ rate = " +
            in_rate + " }' and pw-cli set-param <its output node id> ProcessLatency '{ rate = " + out_rate +
            " }' (pw-cli ls Node gives the ids)\n");
    }
    lines.push_back(
        "compensation, DAW: a recording offset of " + std::to_string(f.daw_offset) + plus_minus +
        " samples where the DAW adds what the driver reports (REAPER's input/output manual offset, Ardour's "
        "hardware input/output latency, an ASIO host's recording offset), or " +
        std::to_string(whole) + " samples where it adds nothing of its own (the whole round trip)\n");
    if (in.spread >= 0.0)
        lines.push_back("compensation corrects the fixed part only: the round trip changed by " +
                        printed("%.3f", in.spread) + " frames (" + printed("%.3f", 1000.0 * in.spread / in.rate) +
                        " ms) from one start to the next, which no fixed value removes: ± " +
                        printed("%.1f", in.spread / 2.0) + " frames about its middle\n");
    else
        lines.push_back(
            "compensation corrects the fixed part only: whether the round trip changes from one start to "
            "the next is not measured here (--reopen N measures it)\n");
    return lines;
}
