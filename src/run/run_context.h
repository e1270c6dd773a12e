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

// The opt-in keys of ostrilo.cfg, read once per run, quietly.
struct hardening_keys {
    std::optional<int> safe_browser_arguments;
    std::optional<int> strict_host_match;
    std::optional<int> strict_command_line;
    std::optional<int> settings_page;
    std::optional<int> unwrap_links;
    std::optional<int> whitelist_copy;
    std::optional<unsigned long> whitelist_timeout_ms;
    std::optional<int> event_log;
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
    hardening_keys keys;
    rule_file_paths rule_files;
    viewer_state viewer;
#ifdef _WIN32
    // COM, set up by the first shell request and kept until the run ends:
    // the shell may still be working on the request when it returns.
    unique_com_init com;
#endif
};
