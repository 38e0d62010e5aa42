// A command line for option_value, kept alive for the test that sets it.
#pragma once
#include <string>
#include <vector>

#include "frame/options.hpp"

struct test_command_line {
    std::vector<std::string> arguments;
    std::vector<char*> pointers;

    // Hands program and args to option_set_args (argument 0 is the program).
    void set(const char* program, std::vector<std::string> args)
    {
        arguments = std::move(args);
        arguments.insert(arguments.begin(), program);
        pointers.clear();
        for (std::string& a : arguments)
            pointers.push_back(a.data());
        pointers.push_back(nullptr);
        option_set_args(static_cast<int>(arguments.size()), pointers.data());
    }
};
