// The end-to-end harness: runs the real Ostrilo.exe in a folder tree of its
// own, with an environment block of its own, and records what a user would
// see: message boxes, exit status, standard output and the log records.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct message_box {
    std::wstring title;
    std::wstring text;
};

// One log record: "<time> <LEVEL> <unit>:<line>: <message>".
struct log_record {
    std::string time;
    std::string level;
    std::string unit;
    int line = 0;
    std::string message;
};

struct run_result {
    DWORD exit_code = 0;
    bool timed_out = false;
    std::string out;  // standard output, as written
    std::string err;  // standard error, as written
    std::vector<message_box> boxes;

    std::vector<log_record> records() const;
    // True when a record of this level (e.g. "INFO") has exactly this message.
    bool logged(std::string_view level, std::string_view message) const;
    // Index of the first record with this message from position `from` on, or -1.
    int find_record(std::string_view message, int from = 0) const;
};

std::vector<log_record> parse_log(const std::string& text);

// Text conversions for tests (UTF-8 <-> UTF-16).
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// Folder of the running test program: the build's bin folder, which holds
// Ostrilo.exe and the stand-in programs.
std::wstring bin_folder();
// The prefix's real Program Files folders: Wine sets ProgramFiles and
// ProgramFiles(x86) in every process, whatever the environment block says.
std::wstring real_program_files();
std::wstring real_program_files_x86();

void make_folders(const std::wstring& path);
void remove_tree(const std::wstring& path);
void write_file(const std::wstring& path, std::string_view content);
std::optional<std::string> read_file(const std::wstring& path);
bool path_exists(const std::wstring& path);
// Waits until the file exists and has content (a stand-in's record), up to the limit.
std::optional<std::string> wait_for_file(const std::wstring& path, DWORD limit_ms = 10000);

// A folder (with its parents) that exists for the lifetime of this object.
class scoped_folder {
public:
    explicit scoped_folder(std::wstring path);
    ~scoped_folder();
    scoped_folder(const scoped_folder&) = delete;
    scoped_folder& operator=(const scoped_folder&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

class sandbox {
public:
    // A fresh tree named after the running test, removed again at the end.
    sandbox();
    ~sandbox();
    sandbox(const sandbox&) = delete;
    sandbox& operator=(const sandbox&) = delete;

    std::wstring root;
    std::wstring program_dir;        // holds Ostrilo.exe
    std::wstring appdata;            // APPDATA
    std::wstring program_files;      // PROGRAMFILES (Wine replaces it, see real_program_files)
    std::wstring program_files_x86;  // PROGRAMFILES(X86) (likewise)
    std::wstring install_path;       // KVIX_INSTALLPATH
    std::wstring temp;               // TMP and TEMP
    std::wstring cwd;                // the current directory of the run
    bool standard_handles = true;    // false: started as the shell starts it, with none

    std::wstring exe() const { return program_dir + L"\\Ostrilo.exe"; }
    // Copies build/bin/<standin>.exe to target.
    void copy_standin(const std::wstring& standin, const std::wstring& target) const;

    // The environment block: every variable of this test program, with
    // APPDATA, PROGRAMFILES, PROGRAMFILES(X86), KVIX_INSTALLPATH, TMP and TEMP
    // pointing into the sandbox, unless a test leaves one out or sets it.
    void unset_env(const std::wstring& name);
    void set_env(const std::wstring& name, const std::wstring& value);

    // Runs "<exe>" <arguments> and waits for its end; every message box it
    // shows is recorded and answered with OK.
    run_result run(const std::wstring& arguments, DWORD limit_ms = 30000) const;
    // Runs a complete command line (program path included).
    run_result run_command_line(const std::wstring& command_line, DWORD limit_ms = 30000) const;

private:
    struct name_less {
        bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
    };
    std::map<std::wstring, std::optional<std::wstring>, name_less> overrides_;
};
