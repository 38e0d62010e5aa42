// What to type where: JACK's -I/-O, PipeWire's latency.internal.rate, a DAW's offset.
#include "loopcheck/latency/compensation.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

compensation_split compensation_split_of(double excess)
{
    const long long whole = std::llrint(std::max(0.0, excess));
    return {whole / 2, whole - whole / 2};
}

std::vector<std::string> compensation_lines(const compensation_input& in)
{
    std::vector<std::string> lines;
    const double reported = in.reported_in + in.reported_out;
    const double excess = in.reported_known ? in.round_trip - reported : in.round_trip;
    const long long whole = std::llrint(in.round_trip);
    const std::string what = in.reported_known ? "the " + printed("%.3f", excess) + " frames the host does not report"
                                               : "the whole round trip (the host's report is not to be believed)";
    if (in.reported_known && excess < -0.5) {
        lines.push_back("compensation: none to add: the host reports " + printed("%.3f", reported) +
                        " frames, more than the " + printed("%.3f", in.round_trip) +
                        " measured; lower what is set (-I/-O, latency.internal.*) by " + printed("%.0f", -excess) +
                        " frames\n");
        return lines;
    }
    const bool jack = in.host_api.find("JACK") != std::string::npos;
    // -I/-O and latency.internal.* add to what the server's ports report:
    // the excess over those (one buffer more on each side than reported_*).
    const double most = 10.0 * in.rate;
    const bool server_known = in.reported_known && in.server_in >= 0.0 && in.server_out >= 0.0 &&
                              in.server_in <= most && in.server_out <= most;
    const double server_excess = server_known ? in.round_trip - in.server_in - in.server_out : excess;
    const std::string server_what = server_known ? "the " + printed("%.3f", server_excess) +
                                                       " frames JACK's ports do not report (they report " +
                                                       printed("%.0f", in.server_in + in.server_out) + ")"
                                                 : what;
    const compensation_split split = compensation_split_of(server_excess);
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
                        std::to_string(split.output) + " (e.g. jackd -d alsa -d hw:X -I " +
                        std::to_string(split.input) + " -O " + std::to_string(split.output) +
                        ", added to what is set): " + server_what +
                        ", split half and half as jack_iodelay does (one loop cannot tell input from output; the sum "
                        "is what counts)\n");
    // On PipeWire's JACK face the card's nodes are PipeWire's: a rule for
    // every ALSA card's nodes, to be narrowed to the card's (pw-cli ls Node).
    if (pipewire && server_excess >= -0.5)
        lines.push_back(
            "compensation, PipeWire (its JACK face): a WirePlumber rule "
            "(~/.config/wireplumber/wireplumber.conf.d/51-latency.conf), then restart wireplumber: "
            "monitor.alsa.rules = [ { matches = [ { node.name = \"~alsa_input.*\" } ] actions = { update-props = { "
            "latency.internal.rate = " +
            std::to_string(split.input) +
            " } } } { matches = [ { node.name = \"~alsa_output.*\" } ] actions = { update-props = { "
            "latency.internal.rate = " +
            std::to_string(split.output) + " } } } ] (narrow node.name to the card's, as pw-cli ls Node names it): " +
            server_what + ", split half and half\n");
    lines.push_back(
        "compensation, DAW: a recording offset of " + std::to_string(std::llrint(std::max(0.0, server_excess))) +
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
