// The server buffer seam's backend on a POSIX system: JACK's calls through
// libjack, and PipeWire's settings through pw-metadata.
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

void* jack_open()
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
    return client;
}

int64_t jack_size(void* client) { return jack_get_buffer_size(static_cast<jack_client_t*>(client)); }

int jack_set(void* client, int64_t frames)
{
    return jack_set_buffer_size(static_cast<jack_client_t*>(client), static_cast<jack_nframes_t>(frames));
}

void jack_close(void* client)
{
    jack_deactivate(static_cast<jack_client_t*>(client));
    jack_client_close(static_cast<jack_client_t*>(client));
}

int64_t steady_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void pause_ms(int64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

const server_buffer_backend& server_buffer_system()
{
    static const server_buffer_backend system{jack_open,      jack_size,     jack_set,  jack_close,
                                              forced_quantum, force_quantum, steady_ms, pause_ms};
    return system;
}
