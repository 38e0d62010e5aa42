// FRD and WAV files written and read back: FRD through our reader, WAV
// through libsndfile itself.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "writers/frd.hpp"
#include "writers/wav.hpp"

namespace {

std::string temp_path(const std::string& name)
{
    return ::testing::TempDir() + "writers_" + std::to_string(getpid()) + "_" + name;
}

}  // namespace

TEST(WritersFiles, FrdRoundTripsExactly)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<frd_point> points = {
        {10.0, -0.25, 179.999}, {1000.0 / 3.0, -3.0103, -45.5}, {20000.0, 1e-7, 0.0},
        {123.456, nan, 1.0},    {24000.0, -96.25, -180.0},
    };
    const std::vector<std::string> comments = {"loopcheck response", "rate 48000\nlevel -12 dBFS"};
    const std::string path = temp_path("response.frd");
    ASSERT_EQ(frd_write(path, comments, points), "");
    std::vector<frd_point> back;
    ASSERT_EQ(frd_read(path, back), "");
    // The point with a NaN is left out; the rest come back bit for bit.
    ASSERT_EQ(back.size(), 4u);
    for (size_t i = 0, j = 0; i < points.size(); i++) {
        if (std::isnan(points[i].db))
            continue;
        EXPECT_EQ(back[j].hz, points[i].hz);
        EXPECT_EQ(back[j].db, points[i].db);
        EXPECT_EQ(back[j].deg, points[i].deg);
        j++;
    }
    const std::string text = frd_format(comments, points);
    EXPECT_EQ(text.substr(0, 58), "* loopcheck response\n* rate 48000\n* level -12 dBFS\n10 -0.2");
    std::remove(path.c_str());
}

TEST(WritersFiles, FrdReaderTakesWhatToolsWriteAndNamesBadLines)
{
    struct row {
        std::string text;
        size_t points;
        std::string error;  // after the path
    };
    const row rows[] = {
        {"* c\n# c\n; c\n\n20 1 2\r\n20000\t-1.5\t+3\n", 2, ""},
        {"20,1,2\n30,2\n", 2, ""},
        {"20 1 2\nabc 1 2\n", 0, ":2: not a frequency and a magnitude"},
        {"20\n", 0, ":1: not a frequency and a magnitude"},
    };
    const std::string path = temp_path("in.frd");
    for (const row& r : rows) {
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(r.text.c_str(), f);
        std::fclose(f);
        std::vector<frd_point> points;
        const std::string error = frd_read(path, points);
        EXPECT_EQ(error, r.error.empty() ? "" : path + r.error);
        if (r.error.empty()) {
            EXPECT_EQ(points.size(), r.points);
        }
    }
    std::remove(path.c_str());
    std::vector<frd_point> points;
    EXPECT_NE(frd_read(path, points).find(path + ": No such file"), std::string::npos);
    EXPECT_NE(frd_write("/nonexistent/dir/x.frd", {}, {}).find("/nonexistent/dir/x.frd: No such file"),
              std::string::npos);
}

TEST(WritersFiles, WavRoundTripsThroughLibsndfile)
{
    struct row {
        int64_t rate;
        int channels;
        int64_t frames;
    };
    const row rows[] = {{48000, 1, 4800}, {44100, 2, 1000}, {96000, 8, 333}, {192000, 1, 0}};
    for (const row& r : rows) {
        std::vector<float> samples(static_cast<size_t>(r.frames * r.channels));
        for (size_t i = 0; i < samples.size(); i++)
            samples[i] = static_cast<float>(std::sin(0.01 * i) * (1 + i % 3)) * 0.7f;  // beyond 1.0 too
        const std::string path = temp_path("round.wav");
        ASSERT_EQ(wav_write(path, r.rate, r.channels, samples), "");
        SF_INFO info{};
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.samplerate, r.rate);
        EXPECT_EQ(info.channels, r.channels);
        EXPECT_EQ(info.frames, r.frames);
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        std::vector<float> back(samples.size() + 1);
        EXPECT_EQ(sf_readf_float(f, back.data(), r.frames + 1), r.frames);
        back.pop_back();
        EXPECT_EQ(back, samples);
        sf_close(f);
        std::remove(path.c_str());
    }
}

TEST(WritersFiles, WavErrorsNameThePathAndTheReason)
{
    const std::vector<float> three(3, 0.5f);
    struct row {
        std::string path;
        int64_t rate;
        int channels;
        std::string want;
    };
    const row rows[] = {
        {"/nonexistent/dir/x.wav", 48000, 1, "/nonexistent/dir/x.wav: "},
        {"x.wav", 0, 1, "x.wav: sample rate 0 Hz out of range"},
        {"x.wav", 48000, 0, "x.wav: 0 channels out of range"},
        {"x.wav", 48000, 2, "x.wav: 3 samples do not make whole frames of 2 channels"},
    };
    for (const row& r : rows) {
        const std::string error = wav_write(r.path, r.rate, r.channels, three);
        EXPECT_EQ(error.substr(0, r.want.size()), r.want);
        EXPECT_GT(error.size(), r.want.size() - 1);
    }
    EXPECT_GT(wav_write("/nonexistent/dir/x.wav", 48000, 1, three).size(), 26u);
}
