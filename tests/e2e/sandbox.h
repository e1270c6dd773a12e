// The end-to-end harness: runs the real Ostrilo.exe in a folder tree of its
// own, with an environment block of its own, and records what a user would
// see: message boxes, exit status, standard output and the log records.
// Stand-ins (tests/standin.cpp) record their starts beside themselves.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct message_box {
    std::wstring title;
    std::wstring text;
};

struct run_result {
    DWORD exit_code = 0;
    std::string out;  // standard output, as written
    std::string err;  // standard error, as written
    std::vector<message_box> boxes;

    // The records on standard error, each "LEVEL message".
    std::vector<std::string> records() const;
    bool has(std::string_view record) const;
    int count(std::string_view record) const;
    // Index of the first record "LEVEL message" from position `from` on, or -1.
    int find(std::string_view record, int from = 0) const;
};

// "LEVEL message" of each line "<time> <LEVEL> <unit>:<line>: <message>"; the
// time is "HH:MM:SS" on standard error and "YYYY-MM-DD HH:MM:SS" in the file.
std::vector<std::string> parse_log(const std::string& text);

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// The build's bin folder (Ostrilo.exe, the stand-ins) and the prefix's real
// Program Files: Wine sets ProgramFiles in every process, whatever the
// environment block says (ProgramFiles(x86) passes through).
std::wstring bin_folder();
std::wstring real_program_files();
std::wstring system_folder();

void remove_tree(const std::wstring& path);
void write_file(const std::wstring& path, std::string_view content);  // folders made as needed
std::optional<std::string> read_file(const std::wstring& path);
bool path_exists(const std::wstring& path);
// The content of the file once it exists and is not empty (a started program
// runs on after Ostrilo has ended), or none after ten seconds.
std::optional<std::string> wait_for_file(const std::wstring& path);
// The command lines and working folders a stand-in recorded, "<command line>\n<folder>\n" each.
std::string calls_of(const std::wstring& standin, bool wait = true);

// A path that is removed when made and again when it goes; as a folder, it exists meanwhile.
struct scoped_path {
    explicit scoped_path(std::wstring path, bool folder = true);
    ~scoped_path();
    scoped_path(const scoped_path&) = delete;
    std::wstring path;
};

class sandbox {
public:
    // A fresh tree named after the running test, removed again at the end
    // with every program started from it.
    sandbox();
    ~sandbox();
    sandbox(const sandbox&) = delete;

    std::wstring root, program_dir, appdata, program_files_x86, install_path, temp, cwd;
    std::map<std::wstring, std::optional<std::wstring>> env;  // set (or, with none, removed) for every run

    std::wstring exe() const { return program_dir + L"\\Ostrilo.exe"; }
    // Copies build/bin/<standin>.exe to target.
    void standin(const std::wstring& target, const std::wstring& standin = L"standin") const;
    void put(const std::wstring& name, std::string_view content) const { write_file(program_dir + L"\\" + name, content); }

    run_result run(const std::wstring& arguments) const { return run_command_line(L"\"" + exe() + L"\" " + arguments); }
    // Runs a complete command line, waits for its end and answers every message box with OK.
    run_result run_command_line(const std::wstring& command_line) const;
    // Starts a program with these variables added and waits until it waits for input.
    DWORD start(const std::wstring& program, const std::map<std::wstring, std::wstring>& variables) const;
    void end_programs() const;

private:
    std::wstring environment(const std::map<std::wstring, std::wstring>& variables) const;
};

// A program of the Wine prefix moved aside while the object lives, with the
// stand-in in its place when asked for.
struct program_aside {
    program_aside(std::wstring path, const sandbox* standin_from);
    ~program_aside();
    program_aside(const program_aside&) = delete;
    std::wstring path;
    bool placed;
};

// Registry: keys put back as they were when the guard goes; a key tree as
// sorted lines "key" and "key [value name]=data" (REG_SZ with one NUL; any
// other type or length is named behind the data).
struct registry_guard {
    registry_guard(std::initializer_list<std::pair<HKEY, std::wstring>> keys);
    ~registry_guard();
    std::vector<std::pair<HKEY, std::wstring>> keys;
};
void registry_dump(HKEY root, const std::wstring& path, std::set<std::string>& lines);
void write_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text);
