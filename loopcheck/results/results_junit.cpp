// The run as JUnit XML, as GitLab, Jenkins and GitHub Actions read it: one
// <testsuite> named after the interface, one <testcase> per check, valid
// against the Jenkins xunit plugin's junit-10.xsd (which has no <error>
// element: a program's own failure is a <failure> whose type says so).
#include "loopcheck/results/results.hpp"

namespace {

std::string attribute(const std::string& name, const std::string& value)
{
    return " " + name + "=\"" + results_xml_escaped(value) + "\"";
}

std::string property(const std::string& name, const std::string& value)
{
    return "      <property" + attribute("name", name) + attribute("value", value) + "/>\n";
}

// The attachments of a mode's files (GitLab and Jenkins's attachments plugin read these lines).
std::string attachments(const results_run& run, const std::string& mode)
{
    std::string text;
    for (const results_file& f : run.files)
        if (f.mode == mode)
            text += "[[ATTACHMENT|" + f.path + "]]\n";
    return text;
}

// The attachments of one check's own files (the glitches' WAVs on the glitches' case).
std::string attachments(const std::vector<std::string>& paths)
{
    std::string text;
    for (const std::string& path : paths)
        text += "[[ATTACHMENT|" + path + "]]\n";
    return text;
}

// A check's figure as the suite's properties: "MODE.CASE.value", unit, min, max, direction, bound.
std::string check_properties(const std::string& key, const mode_check& c)
{
    std::string text;
    if (c.value)
        text += property(key + ".value", results_number(*c.value));
    if (!c.unit.empty())
        text += property(key + ".unit", c.unit);
    if (c.min)
        text += property(key + ".min", results_number(*c.min));
    if (c.max)
        text += property(key + ".max", results_number(*c.max));
    if (c.direction != check_direction::none)
        text += property(key + ".direction", results_direction_name(c.direction));
    if (c.bound)
        text += property(key + ".bound", "the figure lies below its value");
    return text;
}

struct tally {
    int tests = 0, failures = 0, skipped = 0;
};

std::string testcase(const std::string& mode, const std::string& name, const std::string& body)
{
    const std::string head = "    <testcase" + attribute("classname", "loopcheck." + mode) + attribute("name", name);
    return body.empty() ? head + "/>\n" : head + ">\n" + body + "    </testcase>\n";
}

std::string system_out(const std::string& text)
{
    return text.empty() ? "" : "      <system-out>" + results_xml_escaped(text) + "</system-out>\n";
}

}  // namespace

std::string results_junit(const results_run& run)
{
    tally t;
    std::string cases, properties;
    for (const auto& [name, value] : run.properties)
        properties += property(name, value);
    for (const results_mode& m : run.modes) {
        const std::string files = attachments(run, m.name) + attachments(run, "");
        if (m.checks.empty() && !m.ran) {
            // A mode asked for that did not run: one case, skipped, with the reason.
            t.tests++, t.skipped++;
            cases += testcase(m.name, m.name,
                              "      <skipped" + attribute("message", m.reason) + "/>\n" + system_out(m.reason));
            continue;
        }
        const std::vector<std::string> names = results_case_names(m);
        for (size_t i = 0; i < m.checks.size(); i++) {
            const mode_check& c = m.checks[i];
            properties += check_properties(m.name + "." + names[i], c);
            const std::string figure = results_figure_text(c);
            std::string body;
            t.tests++;
            if (c.result == check_result::fail) {
                t.failures++;
                // A record that failed without failing the run (a buffer size that glitched) says so.
                const std::string type = c.fails_with == check_status::ok
                                             ? std::string("outside its bounds")
                                             : std::string(check_status_of(c.fails_with).json);
                const std::string message = c.words.empty() ? m.name + ": " + names[i] + " " + figure : c.words;
                body += "      <failure" + attribute("type", type) + attribute("message", message) + ">" +
                        results_xml_escaped(message) + "</failure>\n";
            } else if (c.result == check_result::skip) {
                t.skipped++;
                body += "      <skipped" + attribute("message", c.words.empty() ? "not checked" : c.words) + "/>\n";
            }
            const std::string own = attachments(c.files);
            body += system_out(figure.empty() && c.result != check_result::fail ? own : figure + "\n" + own + files);
            cases += testcase(m.name, names[i], body);
        }
    }
    std::string suite = "  <testsuite" + attribute("name", run.suite) + attribute("tests", std::to_string(t.tests)) +
                        attribute("failures", std::to_string(t.failures)) + attribute("errors", "0") +
                        attribute("skipped", std::to_string(t.skipped));
    if (!run.hostname.empty())
        suite += attribute("hostname", run.hostname);
    if (!run.timestamp.empty())
        suite += attribute("timestamp", run.timestamp);
    suite += ">\n";
    if (!properties.empty())
        suite += "    <properties>\n" + properties + "    </properties>\n";
    suite += cases;
    const std::string files = attachments(run, "");
    if (!files.empty())
        suite += "    <system-out>" + results_xml_escaped(files) + "</system-out>\n";
    suite += "  </testsuite>\n";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" + attribute("name", "loopcheck") +
           attribute("tests", std::to_string(t.tests)) + attribute("failures", std::to_string(t.failures)) +
           attribute("errors", "0") + ">\n" + suite + "</testsuites>\n";
}
