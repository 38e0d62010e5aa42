// loopcheck's command line parsed as a user types it: "loopcheck" and words,
// with what it printed on standard error kept for the test.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "loopcheck/options/options.hpp"

struct parsed_command {
    options_next next = options_next::refused;
    std::string said;     // standard error
    std::string refusal;  // the reason, as --json's object carries it
};

inline parsed_command loopcheck_parse(std::vector<std::string> words, check_options& o)
{
    words.insert(words.begin(), "loopcheck");
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    char name[] = "/tmp/loopcheck-parse-XXXXXX";
    const int file = mkstemp(name);
    unlink(name);
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(file, 2);
    parsed_command p;
    p.next = options_parse(static_cast<int>(argv.size()), argv.data(), o, p.refusal);
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    lseek(file, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = read(file, buffer, sizeof buffer)) > 0;)
        p.said.append(buffer, static_cast<size_t>(n));
    close(file);
    return p;
}
