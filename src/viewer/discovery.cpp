// Finding the current user's running viewer: its process, its owner and its
// main window, and raising that window.
#include <windows.h>

#include <tlhelp32.h>

#include <cstring>

#include "kvix_environment.h"
#include "log.h"
#include "ostrilo.h"
#include "viewer.h"
#include "run_context.h"
#include "viewer_win32.h"

// The process names are compared as 8-bit text, byte for byte.
static_assert(sizeof(PROCESSENTRY32{}.szExeFile[0]) == 1, "the 8-bit process entry is needed");

namespace {

// Account and domain names are read into buffers of this many characters.
constexpr DWORD account_name_chars = 256;
// Window titles are examined up to 127 characters.
constexpr int window_title_bytes = 128;

bool contains(const char* text, const char* part)
{
    return std::strstr(text, part) != nullptr;
}

}  // namespace

const std::string& get_os_user_name(run_context& run)
{
    std::optional<std::string>& os_user_name = run.viewer.os_user_name;
    if (os_user_name)
        return *os_user_name;
    char buffer[257] = {};
    DWORD size = sizeof buffer;
    if (!GetUserNameA(buffer, &size))
        fatal_error(1, L"Ich konnte den Betriebssystem-Usernamen nicht feststellen.", event_kind::user_name_unknown);
    os_user_name = buffer;
    return *os_user_name;
}

unsigned long find_process_by_name(run_context& run, const char* name, const std::optional<std::string>& user)
{
    if (user) {
        LOG_ENVIRONMENT(LOG_TRACE, "Looking for a process named '%s' for user '%s'", name, user->c_str());
    } else {
        LOG_ENVIRONMENT(LOG_TRACE, "Looking for a process named '%s' for any user", name);
    }
    unique_file_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        fatal_error(1,
                    L"Ich konnte kein Snapshot der laufenden Prozesse machen. So kann ich nicht überprüfen, "
                    L"ob der VNC-Viewer schon läuft.",
                    event_kind::process_list_failed);
    }
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    if (!Process32First(snapshot.get(), &entry)) {
        snapshot.reset();
        fatal_error(1, L"Ich konnte den ersten Prozess aus der Prozessliste nicht auslesen.",
                    event_kind::process_list_failed);
    }
    unsigned long result = 0;
    do {
        if (std::strcmp(entry.szExeFile, name) != 0)
            continue;
        const auto id = static_cast<long>(entry.th32ProcessID);
        if (!user) {
            LOG_ENVIRONMENT(LOG_TRACE, "I found a process (the first one) named '%s' and found out its process id: %ld",
                            name, id);
            result = entry.th32ProcessID;
            break;
        }
        LOG_ENVIRONMENT(LOG_TRACE, "I found a process named '%s' and found out its process id: %ld", name, id);
        LOG_ENVIRONMENT(LOG_TRACE, "Trying to find out whom it belongs to");
        std::string owner;
        std::string domain;
        if (!get_process_user(entry.th32ProcessID, owner, domain)) {
            LOG_ENVIRONMENT(LOG_ERROR,
                            "Failed to get username from process. It probably doesn't belong to the current user");
            continue;
        }
        LOG_ENVIRONMENT(LOG_TRACE, "Process' user: %s", owner.c_str());
        LOG_ENVIRONMENT(LOG_TRACE, "Specified user: %s", user->c_str());
        // Exact and case-sensitive; the domain is not compared.
        if (owner != *user)
            continue;
        LOG_ENVIRONMENT(LOG_TRACE, "I found a process named '%s' that belongs to '%s' and read its process id: %ld",
                        name, owner.c_str(), id);
        if (get_viewer_main_window_handle(run, entry.th32ProcessID, false) != nullptr) {
            LOG_ENVIRONMENT(LOG_TRACE, "It also is the owner of a Corvane-Pro Viewer window.");
            result = entry.th32ProcessID;
            break;
        }
        LOG_ENVIRONMENT(LOG_TRACE,
                        "Unfortunately, its title doesn't contain the 'product name' so it probably isn't a "
                        "Corvane-Viewer...");
    } while (Process32Next(snapshot.get(), &entry));
    return result;
}

int get_process_user(unsigned long process_id, std::string& user, std::string& domain)
{
    const unique_handle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, process_id));
    if (!process) {
        LOG_ENVIRONMENT(LOG_ERROR,
                        "Failed to OpenProcess (you probably don't have the rights to open this process because it "
                        "doesn't belong to you)");
        return 0;
    }
    unique_handle token;
    if (!OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) {
        LOG_ENVIRONMENT(LOG_ERROR, "Error: couldn't open process token");
        return 0;
    }
    return get_user_from_token(token.get(), user, domain);
}

int get_user_from_token(HANDLE token, std::string& user, std::string& domain)
{
    user.clear();
    domain.clear();
    if (token == nullptr)
        return 0;
    DWORD needed = 0;
    if (GetTokenInformation(token, TokenUser, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return 0;
    }
    const unique_process_heap_block block(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed));
    if (!block)
        return 0;
    if (!GetTokenInformation(token, TokenUser, block.get(), needed, &needed))
        return 0;
    char name[account_name_chars] = {};
    char domain_name[account_name_chars] = {};
    DWORD name_size = account_name_chars;
    DWORD domain_size = account_name_chars;
    SID_NAME_USE use{};
    if (!LookupAccountSidA(nullptr, static_cast<TOKEN_USER*>(block.get())->User.Sid, name, &name_size, domain_name,
                           &domain_size, &use)) {
        const DWORD error = GetLastError();
        if (error != ERROR_NONE_MAPPED)
            LOG_ENVIRONMENT(LOG_ERROR, "LookupAccountSid Error %lu", error);
        return 0;
    }
    user = name;
    domain = domain_name;
    return 1;
}

HWND get_viewer_main_window_handle(run_context& run, unsigned long process_id, bool force_reload)
{
    const char* const function = "get_viewer_main_window_handle";
    // Set by the first window search that finds a window, for whatever
    // process is asked later; only a forced reload clears it.
    HWND& viewer_main_window_handle = run.viewer.main_window;
    if (force_reload) {
        viewer_main_window_handle = nullptr;
        LOG_ENVIRONMENT(LOG_TRACE, "%s: forcing reload of 'viewer_main_window_handle'", function);
    } else if (viewer_main_window_handle != nullptr) {
        LOG_ENVIRONMENT(LOG_TRACE,
                        "%s: returning already available 'viewer_main_window_handle' (force reload was set to false)",
                        function);
        return viewer_main_window_handle;
    }
    LOG_ENVIRONMENT(LOG_TRACE, "%s: About to look for the window with EnumWindows", function);
    viewer_window_search search{run, process_id};
    EnumWindows(EnumWindowsProc, reinterpret_cast<LPARAM>(&search));
    if (viewer_main_window_handle != nullptr)
        return viewer_main_window_handle;
    LOG_ENVIRONMENT(LOG_ERROR, "Error while looking for the window.");
    return nullptr;
}

BOOL CALLBACK EnumWindowsProc(HWND window, LPARAM search_pointer)
{
    const char* const function = "EnumWindowsProc";
    viewer_window_search& search = *reinterpret_cast<viewer_window_search*>(search_pointer);
    HWND& viewer_main_window_handle = search.run.viewer.main_window;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != static_cast<DWORD>(search.process_id))
        return TRUE;
    char title[window_title_bytes] = {};
    GetWindowTextA(window, title, sizeof title);
    LOG_ENVIRONMENT(LOG_TRACE, "%s: Window title: %s", function, title);
    const std::string product_name = get_product_name_from_config_file(search.run);
    LOG_ENVIRONMENT(LOG_TRACE, "%s: Product name (to look for in window title): %s", function, product_name.c_str());
    // Older viewers name no product in their title but show "@" and "dpi";
    // such a window is kept only until a window naming the product turns up.
    if (contains(title, "@") && contains(title, "dpi")) {
        LOG_ENVIRONMENT(LOG_TRACE,
                        "%s: Found a window with 'dpi' and '@' in its title (the old-hacky way). Will still try to "
                        "find a better match using the title if possible.",
                        function);
        viewer_main_window_handle = window;
    }
    if (contains(title, product_name.c_str())) {
        LOG_ENVIRONMENT(LOG_TRACE, "%s: Yay! Product name '%s' found in window title: %s", function,
                        product_name.c_str(), title);
        viewer_main_window_handle = window;
        return FALSE;
    }
    return TRUE;
}

void bring_window_to_front(HWND window)
{
    LOG_ENVIRONMENT(LOG_TRACE, "bring_window_to_front()");
    if (!IsZoomed(window)) {
        LOG_ENVIRONMENT(LOG_TRACE, "Window is not zoomed. Restoring.");
        // Nonzero when the window was visible before.
        if (ShowWindow(window, SW_RESTORE)) {
            LOG_ENVIRONMENT(LOG_TRACE, "I restored the window correctly (well, I received no errors)");
        } else {
            LOG_ENVIRONMENT(LOG_ERROR, "I could not restore the window");
        }
    }
    if (!SetForegroundWindow(window))
        LOG_ENVIRONMENT(LOG_ERROR, "I couldn't bring the window to the foreground.");
}

void bring_viewer_window_to_front_with_process_id(run_context& run, unsigned long process_id)
{
    LOG_ENVIRONMENT(LOG_TRACE,
                    "I am going to try to bring the vnc viewer window to the foreground or will try to make it blink "
                    "if it is minimized.");
    if (process_id == 0) {
        LOG_ENVIRONMENT(LOG_ERROR, "I could not find a running process named 'vncviewer.exe'");
        return;
    }
    HWND window = get_viewer_main_window_handle(run, process_id, false);
    if (window == nullptr) {
        LOG_ENVIRONMENT(LOG_ERROR, "%s: coudn't get a Corvane-Viewer window handle for process id '%ld'",
                        "bring_viewer_window_to_front_with_process_id", static_cast<long>(process_id));
        return;
    }
    bring_window_to_front(window);
}
