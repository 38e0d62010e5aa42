// The folder --save-glitches writes into: made with its parents where it is
// missing, as mkdir -p makes it, and refused with the system's reason where it
// cannot be.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "loopcheck/report/files.hpp"

TEST(LoopcheckFiles, TheSnippetsFolderIsMadeWithItsParents)
{
    const std::filesystem::path root =
        std::filesystem::path(::testing::TempDir()) / ("loopcheck_folder_" + std::to_string(getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    std::FILE* f = std::fopen((root / "a-file").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    struct row {
        std::string path;
        const char* problem;  // "" when it is made (or there)
    };
    const row rows[] = {
        {(root / "glitches").string(), ""},
        {(root / "glitches/").string(), ""},  // the README's own spelling, slash and all
        {(root / "deep/er/glitches").string(), ""},
        {root.string(), ""},  // already there
        {(root / "a-file").string(), "cannot make the folder"},
        {(root / "a-file/glitches").string(), "cannot make the folder"},
    };
    for (const row& r : rows) {
        const std::string problem = files_make_folder(r.path);
        if (*r.problem == '\0') {
            EXPECT_EQ(problem, "") << r.path;
            EXPECT_TRUE(std::filesystem::is_directory(r.path)) << r.path;
            EXPECT_EQ(files_check_writable(r.path + "/.loopcheck-check"), "") << r.path;
        } else {
            EXPECT_NE(problem.find(r.problem), std::string::npos) << r.path << ": " << problem;
            EXPECT_NE(problem.find(r.path), std::string::npos) << problem;
        }
    }
    std::filesystem::remove_all(root);
}
