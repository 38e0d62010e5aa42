// The --limits file as the command line reads it: a file that cannot be read
// refused with the system's reason, one that can with what its text holds,
// each on the one line loopcheck prints (exit status 2).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/loopcheck_parse.hpp"
#include "loopcheck/quality/quality.hpp"

namespace {

void limits_write(const std::filesystem::path& path, const char* text)
{
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    std::fputs(text, f);
    std::fclose(f);
}

}  // namespace

TEST(LoopcheckLimitsFile, EachRefusalGivesItsReason)
{
    const std::filesystem::path root =
        std::filesystem::path(::testing::TempDir()) / ("loopcheck_limits_" + std::to_string(getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "a-folder.json");
    limits_write(root / "good.json", R"({"thd_n_db": {"max": -55}, "gain_db": {"min": -0.5, "max": 0.5}})");
    limits_write(root / "typo.json", R"({"thdn_db": {"max": -55}})");
    limits_write(root / "broken.json",
                 "{\n  \"thd_n_db\": {\"max\": -55},\n  \"gain_db\": {\"min\": -0.5}\n  \"x\": 1}\n");
    limits_write(root / "locked.json", R"({"thd_n_db": {"max": -55}})");
    chmod((root / "locked.json").c_str(), 0);
    struct row {
        std::string file;    // under root
        const char* reason;  // a part of the refusal after "--limits PATH: "; "" when read
    };
    std::vector<row> rows = {
        {"good.json", ""},
        {"missing.json", "cannot read: No such file or directory"},
        {"a-folder.json", "cannot read: Is a directory"},
        {"good.json/x.json", "cannot read: Not a directory"},
        {"typo.json", "unknown figure \"thdn_db\" (did you mean \"thd_n_db\"?); the figures are thd_n_db, thd_db, "},
        {"broken.json",
         "not valid JSON at line 4, column 5: syntax error while parsing object - unexpected string "
         "literal; expected '}'"},
    };
    // root reads a file whatever its mode.
    if (geteuid() != 0)
        rows.push_back({"locked.json", "cannot read: Permission denied"});
    for (const row& r : rows) {
        const std::string path = (root / r.file).string();
        SCOPED_TRACE(path);
        const parsed_command p = loopcheck_parse({"--limits", path});
        const options_next next = p.next;
        const std::string& reason = p.refusal;
        if (*r.reason == '\0') {
            EXPECT_EQ(next, options_next::measure) << reason;
            ASSERT_TRUE(p.plans.count("quality"));
            EXPECT_EQ(p.plan<battery_plan>("quality").limits.items.size(), 2u);
        } else {
            EXPECT_EQ(next, options_next::refused);
            EXPECT_EQ(reason.find("--limits " + path + ": " + r.reason), 0u) << reason;
            EXPECT_EQ(reason.find('\n'), std::string::npos) << reason;
        }
    }
    std::filesystem::remove_all(root);
}
