// The server-buffer seam against a fake server: a size set and waited for,
// one the server rounds, one it refuses, one only PipeWire's forced quantum
// changes (the JACK call ignored), and the size and the forced quantum put
// back on close, or the words that say they could not be; every wait bounded
// by the fake's own clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loopcheck/io/server_buffer.hpp"

namespace {

// The server as the seam's calls see it.
struct fake {
    int64_t size = 256;
    bool ignores_jack = false;               // PipeWire with a quantum forced: jack_set_buffer_size does nothing
    bool refuses_all = false;                // every size refused (the call fails)
    int64_t takes_ms = 0;                    // a new size applies this long after the call
    int64_t rounds_from = 0, rounds_to = 0;  // this size asked becomes that one
    std::string forced = "";                 // the forced quantum the settings hold ("" when they cannot be read)
    bool force_fails = false;                // setting it fails
    bool sticks = false;                     // the server never returns to its first size
    std::vector<std::string> forced_set;
    int64_t now = 0, pending = -1, pending_at = 0;
} server;

void apply_pending()
{
    if (server.pending >= 0 && server.now >= server.pending_at)
        server.size = server.pending, server.pending = -1;
}

const server_buffer_backend backend{[] { return static_cast<void*>(&server); },
                                    [](void*) {
                                        apply_pending();
                                        return server.size;
                                    },
                                    [](void*, int64_t frames) {
                                        if (server.refuses_all)
                                            return -1;
                                        if (server.ignores_jack || (server.sticks && frames == 256))
                                            return 0;
                                        server.pending = frames == server.rounds_from ? server.rounds_to : frames;
                                        server.pending_at = server.now + server.takes_ms;
                                        return 0;
                                    },
                                    [](void*) {},
                                    [] { return server.forced; },
                                    [](const std::string& frames) {
                                        if (server.force_fails)
                                            return false;
                                        server.forced_set.push_back(frames);
                                        server.forced = frames;
                                        // A forced quantum is the graph's size; none forced, the server's own again.
                                        server.size = frames == "0" ? 256 : std::stoll(frames);
                                        return true;
                                    },
                                    [] { return server.now; },
                                    [](int64_t ms) { server.now += ms; }};

}  // namespace

TEST(LoopcheckServerBuffer, ASizeIsSetWaitedForAndPutBack)
{
    struct row {
        const char* what;
        fake start;
        int64_t asked;
        int64_t runs_at;                  // what set says the server runs at
        const char* problem;              // set's refusal ("" for none)
        std::vector<std::string> forced;  // the forced quantum's settings, in order, close's included
        const char* restore_problem;
        int64_t most_ms;  // the fake clock's reading after set, at most
    };
    fake slow;
    slow.takes_ms = 200;
    fake rounds;
    rounds.rounds_from = 100, rounds.rounds_to = 128;
    fake refuses;
    refuses.refuses_all = true;
    fake pipewire;
    pipewire.ignores_jack = true, pipewire.forced = "0";
    fake pipewire_stuck;
    pipewire_stuck.ignores_jack = true, pipewire_stuck.forced = "1024", pipewire_stuck.force_fails = true;
    fake sticks;
    sticks.sticks = true;
    const row rows[] = {
        {"at once", fake{}, 512, 512, "", {}, "", 0},
        {"within 200 ms", slow, 512, 512, "", {}, "", 200},
        {"rounded (waited for in vain, then measured at what it runs)", rounds, 100, 128, "", {}, "", 3010},
        {"refused", refuses, 512, 256, "the JACK server refused a buffer size of 512 frames", {}, "", 3010},
        {"only through PipeWire's forced quantum", pipewire, 512, 512, "", {"512", "0"}, "", 3010},
        {"PipeWire's forced quantum cannot be set", pipewire_stuck, 512, 256, "", {}, "", 3010},
        {"the server keeps the new size", sticks, 512, 512, "", {}, "the JACK server did not return to 256 frames", 0},
    };
    for (const row& x : rows) {
        SCOPED_TRACE(x.what);
        server = x.start;
        server_buffer* b = server_buffer_open(backend);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(server_buffer_original(b), 256);
        std::string problem;
        EXPECT_EQ(server_buffer_set(b, x.asked, problem), x.runs_at);
        EXPECT_EQ(problem, x.problem);
        EXPECT_LE(server.now, x.most_ms);
        EXPECT_EQ(server_buffer_close(b), x.restore_problem);
        EXPECT_EQ(server.forced_set, x.forced);
        if (!x.restore_problem[0]) {
            EXPECT_EQ(server.size, 256);
        }
    }
}

// No server answers: no hold, nothing set, and closing nothing is no failure.
TEST(LoopcheckServerBuffer, NoServerNoHold)
{
    server_buffer_backend none;
    none.open = [] { return static_cast<void*>(nullptr); };
    server_buffer* b = server_buffer_open(none);
    EXPECT_EQ(b, nullptr);
    std::string problem = "stale";
    EXPECT_EQ(server_buffer_set(b, 512, problem), 0);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(server_buffer_size(b), 0);
    EXPECT_EQ(server_buffer_close(b), "");
}
