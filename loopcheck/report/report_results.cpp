// The session's checks for the results' renderers, and the writing of their files.
#include "loopcheck/report/report_results.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "loopcheck/report/report_environment.hpp"

results_run report_results(const session_result& r, const verdict_rules& rules, const std::string& suite,
                           const std::vector<results_file>& files)
{
    results_run run;
    run.suite = suite;
    run.files = files;
    run.properties = {{"loopcheck.version", LOOPCABLE_VERSION},
                      {"host_api", r.facts.host_api},
                      {"device.output", r.facts.out_name},
                      {"device.input", r.facts.in_name},
                      {"rate_hz", results_number(r.facts.rate)}};
    if (r.buffer_granted > 0)
        run.properties.push_back({"buffer.granted_frames", std::to_string(r.buffer_granted)});
    // The identity: every result traceable to the hardware, its driver and firmware, and the system.
    const identity& id = r.environment;
    run.hostname = id.system.hostname;
    const auto put = [&run](const std::string& name, const std::string& value) {
        if (!value.empty())
            run.properties.push_back({name, value});
    };
    put("identity.key", report_identity_key(r));
    put("host.os", id.system.os), put("host.kernel", id.system.kernel);
    put("host.dmi_product", id.system.dmi_product);
    put("audio.portaudio", r.versions.portaudio), put("audio.libjack", r.versions.jack);
    if (id.card) {
        put("card.id", id.card->id), put("card.long_name", id.card->long_name), put("card.module", id.card->module);
        if (id.card->usb)
            put("card.usb.release", id.card->usb->release), put("card.usb.serial", id.card->usb->serial);
    }
    // A check the rules make a skip (the bench not set up) is one.
    const auto judged = [&rules](std::vector<mode_check> checks) {
        for (mode_check& c : checks)
            if (verdict_skips(c, rules))
                c.result = check_result::skip, c.words = "skip: " + c.words;
        return checks;
    };
    if (!r.setup.checks.empty())
        run.modes.push_back({"session", true, "", judged(r.setup.checks)});
    for (const mode_result& m : r.modes) {
        // A mode not run that is never noted (the latency, when --buffers takes the session) is left out.
        if (!m.end.ran && m.judgement.checks.empty() && !m.mode->noted)
            continue;
        run.modes.push_back({m.mode->name, m.end.ran, m.end.ran ? "" : m.end.reason, judged(m.judgement.checks)});
    }
    if (!r.baseline.checks.empty())
        run.modes.push_back({"baseline", true, "", judged(r.baseline.checks)});
    return run;
}

std::string report_suite_name(const stream_facts& f, const identity& id)
{
    const std::string device =
        f.in_name == f.out_name ? "\"" + f.out_name + "\"" : "\"" + f.out_name + "\" to \"" + f.in_name + "\"";
    std::string name = f.host_api.empty() ? device : device + " on " + f.host_api;
    if (id.card && id.card->usb)
        name += " (USB " + id.card->usb->vendor_id + ":" + id.card->usb->product_id +
                (id.card->usb->serial.empty() ? "" : " serial " + id.card->usb->serial) + ", firmware " +
                id.card->usb->release + ")";
    else if (id.card && id.card->pci)
        name += " (PCI " + id.card->pci->vendor_id + ":" + id.card->pci->device_id + " at " + id.card->pci->slot + ")";
    else if (id.card)
        name += " (card " + id.card->id + ")";
    return name;
}

std::string report_write_text(const std::string& option, const std::string& path, const std::string& text)
{
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return option + ": cannot write " + path + ": " + std::strerror(errno);
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const int error = errno;
    if (std::fclose(f) != 0 || !written)
        return option + ": cannot write " + path + ": " + std::strerror(error ? error : errno);
    return "";
}
