// Opening a URL in a local browser: first the shell by bare program name,
// then the browser path configured in ostrilo.cfg, then Internet Explorer.
#include "local_browser.h"

#include "browser_call.h"
#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "run_context.h"
#include "unique_resource.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <optional>
#include <string>

namespace {

// Bare program names; the shell resolves them (the calling program's folder,
// the App Paths registrations, the search path).
constexpr wchar_t firefox_program[] = L"firefox";
constexpr wchar_t chrome_program[] = L"chrome";
constexpr wchar_t edge_program[] = L"msedge";
constexpr wchar_t ie_program[] = L"iexplore";

// Where an installed Edge lives; only when it is there is Edge asked for by
// program name, otherwise through its protocol.
constexpr char edge_path[] = "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";

bool open_edge_by_name_or_protocol(run_context& run, const wchar_t* program, const std::wstring& url);

// A browser that a rule can name. Modes without a row (0, 1 and any other
// value) have no shell request and use local_browser_bin.
struct browser_mode {
    int mode;
    const wchar_t* program;                                       // the name the shell is asked for
    bool protocol_unless_installed;                               // Edge: its protocol unless installed at edge_path
    std::optional<std::string> (*configured_path)(run_context&);  // the ostrilo.cfg key of the old method
    const char* log_text;                                         // DEBUG record before the shell request
};

// The log texts name keys (local_browser_firefox, ...) that are not the keys
// read here (local_firefox, ...); they stay as users know them from their logs.
const browser_mode browser_modes[] = {
    {2, firefox_program, false, get_local_firefox,
     "%s: Opening %ls with firefox (forcefully ignoring local_browser_firefox in ostrilo.cfg even though it might be "
     "set)"},
    {3, chrome_program, false, get_local_chrome,
     "%s: Opening %ls with chrome (forcefully ignoring local_browser_chrome in ostrilo.cfg even though it might be "
     "set)"},
    {4, edge_program, true, get_local_edge,
     "%s: Opening %ls with edge (forcefully ignoring local_browser_edge in ostrilo.cfg even though it might be set)"},
    {5, ie_program, false, get_local_ie,
     "%s: Opening %ls with IE (forcefully ignoring local_browser_ie in ostrilo.cfg even though it might be set)"},
};

const browser_mode* find_browser_mode(int mode)
{
    for (const browser_mode& row : browser_modes)
        if (row.mode == mode)
            return &row;
    return nullptr;
}

// The shell request shared by the program names and the Edge protocol.
bool shell_open(run_context& run, const wchar_t* file, const wchar_t* parameters)
{
    if (HWND console = GetConsoleWindow())
        ShowWindow(console, SW_HIDE);
    // The result does not matter: an apartment that is already set up serves
    // as well. COM stays initialised until the run ends.
    if (!run.com)
        run.com = initialize_com(COINIT_APARTMENTTHREADED);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.lpVerb = L"open";
    info.lpFile = file;
    info.lpParameters = parameters;
    // Mask, window, folder and show command stay 0 (SW_HIDE); what the
    // browser does with the show command is its own business.
    return ShellExecuteExW(&info) != FALSE;
}

// Edge by program name only where it is installed at its fixed path; the
// protocol reaches an Edge that the shell knows under no program name.
bool open_edge_by_name_or_protocol(run_context& run, const wchar_t* program, const std::wstring& url)
{
    if (file_exists(std::string_view(edge_path)))
        return open_url_with_program(run, program, url);
    return open_url_with_edge_protocol(run, url);
}

// How a browser of the table was asked for, for the event of a routed link.
std::string asked_by_name(const browser_mode* row)
{
    return wide_to_utf8(row->program).value_or("") + " (asked of the shell by program name)";
}

}  // namespace

bool open_url_with_program(run_context& run, const wchar_t* program, const std::wstring& url)
{
    // The URL is the whole parameter text, without quotes of its own.
    return shell_open(run, program, url.c_str());
}

bool open_url_with_firefox(run_context& run, const std::wstring& url)
{
    return open_url_with_program(run, firefox_program, url);
}

bool open_url_with_chrome(run_context& run, const std::wstring& url)
{
    return open_url_with_program(run, chrome_program, url);
}

bool open_url_with_ie(run_context& run, const std::wstring& url)
{
    return open_url_with_program(run, ie_program, url);
}

bool open_url_with_edge_protocol(run_context& run, const std::wstring& url)
{
    std::wstring file = edge_protocol_text(url);
    return shell_open(run, file.c_str(), nullptr);
}

bool open_url_with_edge(run_context& run, const std::wstring& url)
{
    return open_edge_by_name_or_protocol(run, edge_program, url);
}

std::optional<shell_request> browser_shell_request(const std::wstring& url, int mode)
{
    const browser_mode* row = find_browser_mode(mode);
    if (row == nullptr)
        return std::nullopt;
    if (row->protocol_unless_installed && !file_exists(std::string_view(edge_path)))
        return shell_request{edge_protocol_text(url), std::nullopt};
    return shell_request{row->program, url};
}

int open_url_locally_new(run_context& run, const std::wstring& url, int mode, bool* by_protocol)
{
    const browser_mode* row = find_browser_mode(mode);
    if (row == nullptr)
        return 0;
    LOG_OSTRILO(LOG_DEBUG, row->log_text, "open_url_locally_new", url.c_str());
    const std::optional<shell_request> request = browser_shell_request(url, mode);
    if (by_protocol)
        *by_protocol = !request->parameters;
    return shell_open(run, request->file.c_str(), request->parameters ? request->parameters->c_str() : nullptr) ? 1 : 0;
}

std::wstring create_browser_call(run_context& run, const std::wstring& url, int mode, bool safe, std::string* missing)
{
    // local_browser_bin is read in every mode; a browser mode then takes its
    // own key instead, even when that key is missing.
    std::optional<std::string> path = get_local_browser_bin(run);
    if (const browser_mode* row = find_browser_mode(mode))
        path = row->configured_path(run);
    if (!path || path->empty())
        return {};
    LOG_OSTRILO(LOG_DEBUG,
                "Found 'local_browser' setting in ostrilo.cfg. Won't check registry for other possible browsers.");
    if (!file_exists(path)) {
        LOG_OSTRILO(LOG_ERROR,
                    "%s: Error: file '%s' doesn't exist! Will desperately try to open the URL locally using IE",
                    "create_browser_call", path->c_str());
        if (missing)
            *missing = *path;
        return {};
    }
    std::optional<std::wstring> wide_path = utf8_to_wide(*path);
    if (!wide_path)
        return {};
    return safe ? safe_browser_call_text(*wide_path, url) : browser_call_text(*wide_path, url);
}

std::string open_url_locally(run_context& run, const std::wstring& url, int mode)
{
    LOG_OSTRILO(LOG_TRACE, "open_url_locally(%ls)", url.c_str());
    // With safe_browser_arguments=1 every route below gets the link as one
    // argument, or nothing is started at all.
    const bool safe = get_safe_browser_arguments(run) == 1;
    std::optional<std::wstring> argument = url;
    if (safe) {
        const std::optional<std::string> narrow = wide_to_utf8(url);
        argument = safe_browser_argument(url, narrow && file_exists(*narrow));
    }
    if (!argument) {
        LOG_OSTRILO(LOG_ERROR, "Refusing to open <%ls> locally: it cannot be passed to a browser as one safe argument",
                    url.c_str());
        write_event<event_kind::link_refused>(url);
        return "nothing: safe_browser_arguments refused the link";
    }
    return open_url_locally_checked(run, *argument, mode, safe);
}

std::string open_url_locally_checked(run_context& run, const std::wstring& url, int mode, bool safe)
{
    const browser_mode* row = find_browser_mode(mode);
    bool by_protocol = false;
    if (open_url_locally_new(run, url, mode, &by_protocol) != 0) {
        LOG_OSTRILO(LOG_DEBUG, "%s: new function open_url_locally_new(url, mode) succeeded", "open_url_locally");
        return "the local browser " +
               (by_protocol ? "Edge (asked of the shell through its protocol microsoft-edge:)" : asked_by_name(row));
    }
    LOG_OSTRILO(LOG_WARN, "%s: new function open_url_locally_new(url, mode) failed, trying to open with 'old' method",
                "open_url_locally");

    std::string missing;
    std::wstring call = create_browser_call(run, url, mode, safe, &missing);
    if (call.empty()) {
        LOG_OSTRILO(LOG_ERROR,
                    "Couldn't generate browser call. Desperately trying to open url with IE (as last resort).");
        const std::string how = open_url_with_ie(run, url)
                                    ? "the local browser iexplore (asked of the shell, as the last resort)"
                                    : "nothing: iexplore could not be started either";
        // The browser a rule names, or a configured one, that gave way to the
        // last resort; a rule without a browser takes iexplore by design.
        std::string failed = row ? asked_by_name(row) : "";
        if (!missing.empty())
            failed += (failed.empty() ? "" : " and ") + ("the configured browser " + missing + " (it does not exist)");
        if (!failed.empty())
            write_event<event_kind::browser_not_started>(failed, url, how);
        return how;
    }
    LOG_OSTRILO(LOG_INFO, "Browser call: <%ls>", call.c_str());

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_SHOWDEFAULT;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    LOG_OSTRILO(LOG_DEBUG, "creating process now");

    PROCESS_INFORMATION process{};
    BOOL started =
        CreateProcessW(nullptr, call.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    fatal_error_if(started ? 0 : 1, L"Der Start des lokalen Browsers ist fehlgeschlagen.",
                   event_kind::local_browser_failed);
    // The browser runs on by itself; nothing waits for it.
    const unique_process_information started_browser = own_process(process);
    LOG_OSTRILO(LOG_TRACE, "returning from open_url_locally()");
    return "the configured local browser: " + wide_to_utf8(call).value_or("");
}
