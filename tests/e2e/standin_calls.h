// What a stand-in browser recorded: one command line and one working folder
// per start, in "<stand-in path>.calls.txt" beside it.
#pragma once

#include "sandbox.h"

#include <string>
#include <vector>

struct standin_call {
    std::string command_line;  // UTF-8
    std::string folder;
};

inline std::wstring calls_file(const std::wstring& standin_path)
{
    return standin_path + L".calls.txt";
}

inline std::vector<standin_call> parse_calls(const std::string& text)
{
    std::vector<standin_call> calls;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t first_end = text.find('\n', start);
        if (first_end == std::string::npos)
            break;
        std::size_t second_end = text.find('\n', first_end + 1);
        if (second_end == std::string::npos)
            break;
        calls.push_back({text.substr(start, first_end - start), text.substr(first_end + 1, second_end - first_end - 1)});
        start = second_end + 1;
    }
    return calls;
}

// The calls recorded so far, without waiting.
inline std::vector<standin_call> recorded_calls(const std::wstring& standin_path)
{
    return parse_calls(read_file(calls_file(standin_path)).value_or(std::string()));
}

// Waits until the stand-in has recorded a start (a started program runs on
// after Ostrilo has ended).
inline std::vector<standin_call> wait_for_calls(const std::wstring& standin_path)
{
    return parse_calls(wait_for_file(calls_file(standin_path)).value_or(std::string()));
}

// The command line without its first token (the program as the starter wrote
// it, quoted or not) and the one blank behind it: what the program was given.
inline std::string parameters_of(const std::string& command_line)
{
    std::size_t end = 0;
    if (!command_line.empty() && command_line[0] == '"') {
        end = command_line.find('"', 1);
        end = end == std::string::npos ? command_line.size() : end + 1;
    } else {
        end = command_line.find(' ');
        if (end == std::string::npos)
            end = command_line.size();
    }
    if (end < command_line.size() && command_line[end] == ' ')
        ++end;
    return command_line.substr(end);
}
