// The environment's JSON.
#include "loopcheck/report/report_environment.hpp"

namespace {

using json = nlohmann::ordered_json;

json text_or_null(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

json card_json(const identity& id)
{
    if (!id.card)
        return nullptr;
    const identity_card& c = *id.card;
    json j = {{"index", c.index},
              {"id", text_or_null(c.id)},
              {"driver", text_or_null(c.driver)},
              {"name", text_or_null(c.name)},
              {"long_name", text_or_null(c.long_name)},
              {"module", text_or_null(c.module)},
              {"found_through", id.card_from}};
    j["usb"] = nullptr, j["pci"] = nullptr;
    if (c.usb)
        j["usb"] = {{"vendor_id", c.usb->vendor_id},
                    {"product_id", c.usb->product_id},
                    {"serial", text_or_null(c.usb->serial)},
                    {"release", text_or_null(c.usb->release)},
                    {"manufacturer", text_or_null(c.usb->manufacturer)},
                    {"product", text_or_null(c.usb->product)}};
    if (c.pci)
        j["pci"] = {{"slot", c.pci->slot},
                    {"vendor_id", c.pci->vendor_id},
                    {"device_id", c.pci->device_id},
                    {"subsystem_vendor_id", text_or_null(c.pci->subsystem_vendor_id)},
                    {"subsystem_device_id", text_or_null(c.pci->subsystem_device_id)},
                    {"revision", text_or_null(c.pci->revision)}};
    return j;
}

// The Windows driver behind the devices (ASIO's), null where none was read.
json driver_json(const identity& id)
{
    if (!id.driver)
        return nullptr;
    const identity_driver& d = *id.driver;
    return {{"api", d.api},
            {"name", d.name},
            {"clsid", text_or_null(d.clsid)},
            {"path", text_or_null(d.path)},
            {"version", text_or_null(d.version)},
            {"product", text_or_null(d.product)},
            {"company", text_or_null(d.company)},
            {"reason", text_or_null(d.reason)}};
}

std::string devices_of(const stream_facts& f)
{
    const std::string devices = f.in_name == f.out_name ? f.out_name : f.out_name + " to " + f.in_name;
    return f.host_api.empty() ? devices : devices + " on " + f.host_api;
}

// The compiler that built loopcheck, and whether its assertions are on.
std::string build_text()
{
#if defined(__clang__)
    std::string text = std::string("clang ") + __clang_version__;
#elif defined(__GNUC__)
    std::string text = std::string("gcc ") + __VERSION__;
#else
    std::string text = "unknown compiler";
#endif
#ifdef NDEBUG
    text += ", release";
#else
    text += ", debug";
#endif
#ifdef _WIN32
    text += ", Windows";
#endif
    return text;
}

}  // namespace

std::string report_identity_key(const session_result& r) { return identity_key(r.environment, devices_of(r.facts)); }

json report_environment_json(const session_result& r)
{
    const identity_system& s = r.environment.system;
    json j;
    j["time"] = text_or_null(r.environment.time);
    j["host"] = {{"name", text_or_null(s.hostname)},
                 {"os", text_or_null(s.os)},
                 {"kernel", text_or_null(s.kernel)},
                 {"dmi", {{"vendor", text_or_null(s.dmi_vendor)}, {"product", text_or_null(s.dmi_product)}}}};
    j["loopcheck"] = {{"version", LOOPCABLE_VERSION}, {"build", build_text()}};
    // libjack's version is the client library's: JACK's API gives no server's version.
    j["audio"] = {{"portaudio", text_or_null(r.versions.portaudio)},
                  {"libjack", text_or_null(r.versions.jack)},
                  {"host_api", r.facts.host_api}};
    j["card"] = card_json(r.environment);
    j["key"] = report_identity_key(r);
    j["driver"] = driver_json(r.environment);
    return j;
}
