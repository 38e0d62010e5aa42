// The JACK server's buffer size through libjack; on PipeWire's JACK face,
// where a quantum is forced, through the session's settings (pw-metadata).
#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "loopcheck/io/server_buffer.hpp"

extern char** environ;

struct server_buffer {
    jack_client_t* client = nullptr;
    int64_t original = 0;
    bool changed = false;
    // PipeWire: the settings' forced quantum before the sweep ("" when none
    // was read), and whether the sweep forced one.
    std::string forced_before;
    bool forced = false;
};

namespace {

// Runs pw-metadata with args, its standard output into out; false when it
// cannot be run, fails, or takes more than 5 s (then it is killed).
bool pw_metadata(const std::vector<std::string>& args, std::string& out)
{
    std::vector<std::string> words{"pw-metadata", "-n", "settings", "0"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "pw-metadata", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (spawned != 0) {
        close(pipe_fds[0]);
        return false;
    }
    // Its output is a few lines: read to its end, then wait, bounded.
    char chunk[512];
    ssize_t n = 0;
    while ((n = read(pipe_fds[0], chunk, sizeof chunk)) > 0)
        out.append(chunk, static_cast<size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The forced quantum the settings hold ("0" for none), as pw-metadata lists
// it: update: id:0 key:'clock.force-quantum' value:'1024' type:''.
std::string forced_quantum()
{
    std::string out;
    if (!pw_metadata({"clock.force-quantum"}, out))
        return "";
    const std::string key = "key:'clock.force-quantum' value:'";
    const size_t at = out.find(key);
    if (at == std::string::npos)
        return "0";
    const size_t from = at + key.size(), to = out.find('\'', from);
    return to == std::string::npos ? "" : out.substr(from, to - from);
}

bool force_quantum(const std::string& frames)
{
    std::string out;
    return pw_metadata({"clock.force-quantum", frames}, out);
}

// Waits, at most 3 s, for the server's engine to run at frames: it applies a
// new size between two cycles, and its clients read it from the engine's
// shared state. The size it runs at then.
int64_t size_wait(server_buffer& b, int64_t frames)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int64_t now = jack_get_buffer_size(b.client);
    while (now != frames && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = jack_get_buffer_size(b.client);
    }
    return now;
}

// Asks through JACK, then, where the size did not take (PipeWire with a
// forced quantum ignores jack_set_buffer_size), through PipeWire's settings.
int64_t size_set(server_buffer& b, int64_t frames, std::string& problem)
{
    b.changed = true;
    const int refused = jack_set_buffer_size(b.client, static_cast<jack_nframes_t>(frames));
    int64_t now = size_wait(b, frames);
    if (now != frames) {
        if (!b.forced)
            b.forced_before = forced_quantum();
        if (!b.forced_before.empty() && force_quantum(std::to_string(frames))) {
            b.forced = true;
            now = size_wait(b, frames);
        }
    }
    if (refused != 0 && now != frames)
        problem = "the JACK server refused a buffer size of " + std::to_string(frames) + " frames";
    return now;
}

}  // namespace

server_buffer* server_buffer_open()
{
    jack_status_t status{};
    jack_client_t* client = jack_client_open("loopcheck-size", JackNoStartServer, &status);
    if (!client)
        return nullptr;
    // Active, with no ports and no process callback: PipeWire's JACK face
    // tells a client the graph's new size only once it is in the graph.
    if (jack_activate(client) != 0) {
        jack_client_close(client);
        return nullptr;
    }
    auto* b = new server_buffer;
    b->client = client;
    b->original = jack_get_buffer_size(client);
    return b;
}

int64_t server_buffer_size(const server_buffer* b) { return b ? jack_get_buffer_size(b->client) : 0; }

int64_t server_buffer_original(const server_buffer* b) { return b ? b->original : 0; }

int64_t server_buffer_set(server_buffer* b, int64_t frames, std::string& problem)
{
    problem.clear();
    return b ? size_set(*b, frames, problem) : 0;
}

std::string server_buffer_close(server_buffer* b)
{
    if (!b)
        return "";
    std::string problem;
    if (b->forced) {
        // PipeWire: the settings as they were (0: no quantum forced), then the size.
        if (!force_quantum(b->forced_before))
            problem = "PipeWire's clock.force-quantum could not be set back to " + b->forced_before;
    }
    if (b->changed) {
        jack_set_buffer_size(b->client, static_cast<jack_nframes_t>(b->original));
        if (size_wait(*b, b->original) != b->original && problem.empty())
            problem = "the JACK server did not return to " + std::to_string(b->original) + " frames";
    }
    jack_deactivate(b->client);
    jack_client_close(b->client);
    delete b;
    return problem;
}
