// Opening a URL in a local browser: the shell by program name, a configured
// browser path, and Internet Explorer as the last resort.
#pragma once

#include <optional>
#include <string>

struct run_context;

// What the shell is asked to open for a browser mode: a program name with the
// link as parameters, or Edge's protocol text without parameters.
struct shell_request {
    std::wstring file;
    std::optional<std::wstring> parameters;
};

// Modes: 0 default, 2 Firefox, 3 Chrome, 4 Edge, 5 Internet Explorer. Gives
// which browser was started and how, in English (for the event of a routed link).
std::string open_url_locally(run_context& run, const std::wstring& url, int mode);
// The shell request of a browser mode (2 to 5), or none (other modes).
std::optional<shell_request> browser_shell_request(const std::wstring& url, int mode);
// The routes of open_url_locally for a link already made safe (or not asked to be).
std::string open_url_locally_checked(run_context& run, const std::wstring& url, int mode, bool safe);
// by_protocol: set when Edge was asked for through its protocol.
int open_url_locally_new(run_context& run, const std::wstring& url, int mode, bool* by_protocol = nullptr);
// "\"path\" \"url\"" cut at 4095 characters (safe: "\"path\" url", uncut), or
// empty when nothing is configured; missing: set to a configured path that
// does not exist.
std::wstring create_browser_call(run_context& run, const std::wstring& url, int mode, bool safe = false,
                                 std::string* missing = nullptr);
bool open_url_with_program(run_context& run, const wchar_t* program, const std::wstring& url);
bool open_url_with_firefox(run_context& run, const std::wstring& url);
bool open_url_with_chrome(run_context& run, const std::wstring& url);
bool open_url_with_ie(run_context& run, const std::wstring& url);
bool open_url_with_edge_protocol(run_context& run, const std::wstring& url);
bool open_url_with_edge(run_context& run, const std::wstring& url);
