// The state of one run in one value: what the entry reads from the command
// line and what the units find and keep until the run ends. WinMain builds
// it, passes it down to every function that reads or keeps a part of it, and
// its shutdown step forgets the parts that a run forgets; ostrilo-admin
// builds its own the same way.
//
// It sits below the units (config, rules, local browser, viewer,
// registration) that take it as a parameter, with the boxes; their headers
// only name it (struct run_context;). The log and the util helpers never see
// it and stay at the bottom. What stays outside
// is process-wide on purpose, since any function may reach it, with or
// without a run: the log (its sinks and file, src/log), the title of the
// fatal error box (src/run/error_box.cpp) and the output switches that
// ostrilo-admin turns off (set_log_to_stderr, set_stdout_lines).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "unique_resource.h"

// A found path is reused for the rest of the run; a missing one is searched
// again, with its log records, on the next request.
struct found_paths {
    std::optional<std::string> ostrilo_cfg;
    std::optional<std::string> kvix_cfg;
    std::optional<std::string> kvix_vnc;
    std::optional<std::string> vncviewer;
    // The per-user temporary folder, ending in a backslash.
    std::optional<std::string> tempdir;
    // Kept until the process ends; the shutdown step leaves them.
    std::optional<std::string> installpath;
    std::optional<std::string> appdata;
    // The last path formed by the two wide installation searches (at most
    // 8096 wide characters); they hand out copies.
    std::wstring installpath_buffer;
};

// Where the value of a key in force comes from, in the order the sources
// are asked.
enum class key_source { machine_policy, user_policy, file, installation, fallback };

// A key's value as one source sets it.
struct key_value {
    std::string text;          // text and path keys, UTF-8
    unsigned long number = 0;  // on/off, choice and number keys
    key_source source = key_source::fallback;
    std::string file;  // ostrilo.cfg: the path and line that set it; installation: the value's path
    int line = 0;
};

// The keys of the run, by row of the key table (src/config/config_keys.h).
struct key_values {
    // Both policy keys are read at the first request of any key, once; their
    // records are written at the first request that may write records (the
    // log key is asked for before the log file is open).
    bool policies_read = false;
    bool policies_recorded = false;
    std::vector<std::optional<key_value>> policy;
    std::vector<std::pair<int, std::string>> policy_records;  // level, text
    // The policy values ignored (wrong type, out of range): the key's name
    // and what is wrong, as the WARN record says it.
    std::vector<std::pair<std::string, std::string>> policy_problems;
    // The quietly read keys in force, each kept from its first request.
    std::vector<std::optional<key_value>> kept;
};

// The rule file each folder yielded at its last search; every lookup
// searches again, so nothing here is reused.
struct rule_file_paths {
    std::optional<std::string> configdir;
    std::optional<std::string> global;
    std::optional<std::string> appdata;
    std::optional<std::string> startpath;
};

struct HWND__;  // a window handle, without <windows.h> in every unit

struct viewer_state {
    // The current user's logon name, fetched once.
    std::optional<std::string> os_user_name;
    // %TEMP%\kvixtemp\\feldrun_pipename, built on first use.
    std::optional<std::string> pipe_name_file_path;
    // The viewer's main window, set by the first window search that finds
    // one and then given for any process until a forced reload.
    HWND__* main_window = nullptr;
};

struct run_context {
    // The -configdir folder, never ending in a backslash; may be empty. Set
    // once by the entry, before the argument walk.
    std::optional<std::string> configdir;
    found_paths found;
    key_values keys;
    rule_file_paths rule_files;
    viewer_state viewer;
    // whitelist_url, as the run found it before its lookup: it fetched the
    // list (or tried), or its cache was current; either way the refresh after
    // the hand-off has nothing to do.
    struct {
        bool fetched = false;
        bool current = false;
    } central_list;
#ifdef _WIN32
    // COM, set up by the first shell request and kept until the run ends:
    // the shell may still be working on the request when it returns.
    unique_com_init com;
#endif
};
