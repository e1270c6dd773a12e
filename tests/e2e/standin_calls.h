// Stand-in browsers: what one recorded (one command line and one working
// folder per start, in "<stand-in path>.calls.txt" beside it), and stand-ins
// put in place of programs of the Wine prefix.
#pragma once

#include "sandbox.h"

#include <optional>
#include <sstream>
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

// The calls recorded so far; with `wait`, after waiting until the stand-in
// has recorded a start (a started program runs on after Ostrilo has ended).
inline std::vector<standin_call> recorded_calls(const std::wstring& standin_path, bool wait = false)
{
    const std::wstring file = calls_file(standin_path);
    std::istringstream lines((wait ? wait_for_file(file) : read_file(file)).value_or(std::string()));
    std::vector<standin_call> calls;
    for (standin_call call; std::getline(lines, call.command_line) && std::getline(lines, call.folder);)
        calls.push_back(call);
    return calls;
}

inline std::vector<standin_call> wait_for_calls(const std::wstring& standin_path)
{
    return recorded_calls(standin_path, true);
}

// The command line without its first token (the program as the starter wrote
// it, quoted or not) and the one blank behind it: what the program was given.
inline std::string parameters_of(const std::string& command_line)
{
    const bool quoted = command_line.starts_with('"');
    std::size_t end = quoted ? command_line.find('"', 1) : command_line.find(' ');
    end = end == std::string::npos ? command_line.size() : end + quoted;
    if (end < command_line.size() && command_line[end] == ' ')
        ++end;
    return command_line.substr(end);
}

inline std::wstring system_folder()
{
    wchar_t folder[MAX_PATH] = L"";
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

// A program of the Wine prefix moved aside for the lifetime of the object,
// with the browser stand-in in its place when a sandbox is given to copy it;
// folders made for the stand-in go again.
class prefix_program_aside {
public:
    explicit prefix_program_aside(std::wstring path, const sandbox* standin_from = nullptr)
        : path_(std::move(path)), aside_(path_ + L".ostrilo-test-aside"), kept_folder_(path_)
    {
        // A run that ended abruptly may have left it aside.
        if (path_exists(aside_))
            MoveFileExW(aside_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
        const bool existed = path_exists(path_);
        moved_ = existed && MoveFileW(path_.c_str(), aside_.c_str());
        placed_ = standin_from && (moved_ || !existed);
        while (!path_exists(kept_folder_))
            kept_folder_ = kept_folder_.substr(0, kept_folder_.find_last_of(L'\\'));
        if (placed_)
            standin_from->copy_standin(L"browser_standin", path_);
    }
    ~prefix_program_aside()
    {
        DeleteFileW(calls_file(path_).c_str());
        if (placed_)
            DeleteFileW(path_.c_str());
        if (moved_)
            MoveFileExW(aside_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
        std::wstring folder = path_.substr(0, path_.find_last_of(L'\\'));
        for (; folder.size() > kept_folder_.size(); folder = folder.substr(0, folder.find_last_of(L'\\')))
            RemoveDirectoryW(folder.c_str());
    }
    prefix_program_aside(const prefix_program_aside&) = delete;
    prefix_program_aside& operator=(const prefix_program_aside&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
    std::wstring aside_;
    std::wstring kept_folder_;  // the deepest folder of the path that existed before
    bool moved_ = false;
    bool placed_ = false;
};
