// The end-to-end harness: runs the real Ostrilo.exe in a folder tree and environment of its own, and records
// what a user would see: boxes, exit status, output, log records, and what the stand-ins (tests/standin.cpp) got.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// "LEVEL message" of each line "<time> <LEVEL> <unit>:<line>: <message>"; the
// time is "HH:MM:SS" on standard error and "YYYY-MM-DD HH:MM:SS" in the file.
std::vector<std::string> parse_log(const std::string& text);

struct message_box {
    std::wstring title, text;
};

struct run_result {
    DWORD exit_code = 0;
    std::string out, err;  // standard output and standard error, as written
    std::string wine;      // Wine's own lines of the process (in the file OSTRILO_WINE_STDERR names)
    std::vector<message_box> boxes;
    std::vector<std::string> records() const { return parse_log(err); }  // those on standard error
    bool has(const std::string& record) const { return find(record) >= 0; }
    int count(const std::string& record) const;
    int find(const std::string& record) const;  // index of the first, or -1
    // With `event_debug` in WINEDEBUG, Wine's stubs print each event in `wine`: one line
    // "\nevent <level> <ID>: <string> | <string>..." each (an error number's text left out, "..." where Wine cut
    // a string), and a line that says so unless the source was registered once for all of them.
    std::string events() const;
};
constexpr wchar_t event_debug[] = L"-all,+eventlog,fixme+advapi";

std::wstring widen(const std::string& utf8);  // invalid sequences become U+FFFD, as in Ostrilo.exe
std::string narrow(const std::wstring& wide);
std::wstring bin_folder();          // the build's bin folder (Ostrilo.exe, the stand-ins)
std::wstring real_program_files();  // Wine sets it in every process, whatever the environment block says
std::wstring system_folder();

void remove_tree(const std::wstring& path);
void write_file(const std::wstring& path, const std::string& content);  // folders made as needed
std::optional<std::string> read_file(const std::wstring& path);
bool path_exists(const std::wstring& path);
// The file's content; with `wait`, once not empty (a started program runs on after Ostrilo), or "" after ten seconds.
std::string wait_for_file(const std::wstring& path, bool wait = true);
// What a stand-in recorded: "<command line>\n<folder>\n" for each start.
inline std::string calls_of(const std::wstring& standin, bool wait = true)
{
    return wait_for_file(standin + L".calls.txt", wait);
}
// The first recorded command line without the program (quoted or not) and the blank behind it.
inline std::string parameters_of(const std::string& calls)
{
    const std::string line = calls.substr(0, calls.find('\n'));
    std::size_t end = line.starts_with('"') ? line.find('"', 1) + 1 : line.find(' ');
    return line.substr(std::min(end + 1, line.size()));
}

// A path removed when made and again when it goes; as a folder, it exists meanwhile.
struct scoped_path {
    explicit scoped_path(std::wstring path, bool folder = true);
    ~scoped_path() { remove_tree(path); }
    std::wstring path;
};

class sandbox {
public:
    sandbox();   // a fresh tree named after the running test, with its folders set in `env`
    ~sandbox();  // removes it, ending every program started from it
    sandbox(const sandbox&) = delete;

    std::wstring root, program_dir, appdata, localappdata, program_files_x86, install_path, temp, cwd;
    std::map<std::wstring, std::optional<std::wstring>> env;  // set (none: removed) for every start
    bool standard_handles = true;                             // false: started as the shell starts it, with none

    std::wstring exe() const { return program_dir + L"\\Ostrilo.exe"; }
    void standin(const std::wstring& target, const std::wstring& standin = L"standin") const;
    void put(const std::wstring& name, const std::string& content) const
    {
        write_file(program_dir + L"\\" + name, content);
    }
    run_result run(const std::wstring& arguments) const { return run_command_line(L"\"" + exe() + L"\" " + arguments); }
    // Runs a complete command line, waits for its end and answers every message box with OK.
    run_result run_command_line(const std::wstring& command_line, int seconds = 30) const;
    // Starts a program with these variables added and waits until it waits for input.
    DWORD start(const std::wstring& program, const std::map<std::wstring, std::wstring>& variables) const;

    // Where a stand-in goes by name: "browser", "default" (configured ones), "selector" (in
    // KVIX_INSTALLPATH), else "<name>.exe" beside the program, where the shell finds it first.
    std::wstring standin_path(const std::string& name) const;
    // The stand-ins an outcome names, in the order it lists them.
    static constexpr const char* standin_names[] = {"browser",  "chrome", "default",  "firefox",
                                                    "iexplore", "msedge", "selector", "viewer"};
    // What a run did, one line each: "exit N", every box "box: <title>: <text>"
    // (an error number's text left out), every stand-in's first start
    // "<name>: <parameters>" (waited for when `expected` names it), then each
    // "LEVEL message" line of `expected` as it is when logged as often as it
    // is listed there (with "!" in front: not at all), else behind "(not as listed) ",
    // and each "out: <text>" line of `expected` written to standard output; then the events.
    std::string outcome(const run_result& run, const std::string& expected = "") const;
};

// A program of the Wine prefix moved aside while the object lives, with the stand-in in its place if a sandbox is
// given.
struct program_aside {
    program_aside(std::wstring path, const sandbox* standin_from);
    ~program_aside();
    std::wstring path;
};

// A registry key removed when made and again when it goes (the tests run in the build's own Wine prefix); a key
// tree as lines "key" and "key [value name]=data" (REG_SZ with one NUL; any other type or length is named).
struct scoped_key {
    scoped_key(HKEY key_root, std::wstring key_path) : root(key_root), path(std::move(key_path)) { remove(); }
    ~scoped_key() { remove(); }
    void remove() const { SHDeleteKeyW(root, path.c_str()); }
    HKEY root;
    std::wstring path;
};
void registry_dump(HKEY root, const std::wstring& path, std::set<std::string>& lines);
// A user who never registered the program, on the Windows version given (as Wine reports it to Ostrilo.exe).
extern const std::vector<std::string> registration_tops;
struct clean_registry {
    explicit clean_registry(const wchar_t* windows_version);
    ~clean_registry();
};
void write_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text);

// Ostrilo's policy values (REG_DWORD data in decimal); writing them removes all others of both hives, and the
// scoped keys remove them all when made and when they go.
struct policy_entry {
    HKEY root;
    std::wstring name;
    DWORD type;
    std::wstring data;
};
void write_policies(const std::vector<policy_entry>& values);
struct scoped_policies {
    scoped_key machine{HKEY_LOCAL_MACHINE, L"Software\\Policies\\Corvane-Pro"};
    scoped_key user{HKEY_CURRENT_USER, L"Software\\Policies\\Corvane-Pro"};
};
