// The remote branch of the dispatch: hand the text to the running viewer, or
// start the viewer (or the installation's viewer selector) with it.
#include <windows.h>

#include <winver.h>

#include <vector>

#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "run_context.h"
#include "viewer.h"
#include "viewer_decisions.h"
#include "viewer_win32.h"

std::string open_url_in_kvix(run_context& run, const std::wstring& text)
{
    LOG_OSTRILO(LOG_DEBUG, "open_url_in_kvix(%ls)", text.c_str());
    const std::string& user = get_os_user_name(run);
    const unsigned long process_id = find_process_by_name(run, "vncviewer.exe", user);
    std::string how;
    if (process_id != 0) {
        LOG_OSTRILO(LOG_DEBUG, "vncviewer.exe is running for user '%s' (process id: %lu)", user.c_str(), process_id);
        const bool piped = send_url_to_vncviewer(run, text);
        bring_viewer_window_to_front_with_process_id(run, process_id);
        how = piped ? "the running viewer, through its pipe" : "the running viewer, on the clipboard";
    } else {
        LOG_OSTRILO(LOG_DEBUG, "vncviewer.exe is not running for user '%s'", user.c_str());
        // Wide text without a UTF-8 form starts the viewer with an empty
        // -initialURL rather than with nothing at all.
        const std::string utf8 = wide_to_utf8(text).value_or(std::string());
        if (start_viewer_with_url(run, utf8) != 0) {
            how = "the viewer, started with the link";
        } else {
            const std::wstring message = make_viewer_not_found_text(run);
            const std::wstring title = make_error_box_title(run);
            write_box_event(event_kind::viewer_missing, message);
            MessageBoxW(nullptr, message.c_str(), title.c_str(), 0);
            how = "nothing: no viewer was found";
        }
    }
    LOG_OSTRILO(LOG_TRACE, "open_url_in_kvix() finished");
    return how;
}

unsigned long start_viewer_with_url(run_context& run, const std::string& text)
{
    LOG_OSTRILO(LOG_DEBUG, "start_viewer_with_url()");
    std::optional<std::string> program;
    std::string working_folder;
    const std::optional<std::wstring> selector = wc_get_installpath_subfile(run, L"viewer_selector.exe");
    if (selector && !selector->empty()) {
        LOG_OSTRILO(LOG_DEBUG, "Found viewer_selector.exe. Using this instead of vncviewer.exe directly.");
        program = wide_to_utf8(*selector);
        working_folder = get_selector_installpath();
    } else {
        LOG_OSTRILO(LOG_DEBUG,
                    "No viewer_selector.exe found. This is not necessarily bad. Using vncviewer.exe directly instead.");
        program = find_vncviewer(run);
        working_folder = get_kvix_installpath(run);
    }
    if (!program)
        return 0;
    // The viewer is never started without -initialURL, so a viewer too old
    // for it counts as no viewer.
    if (!is_vncviewer_version_equal_to_or_greater_than_2_1_4(run))
        return 0;
    const std::string encoded = url_encode(text);
    // Both buffers fit their text exactly (or more); nothing is cut.
    std::string command_line = format_bounded(program->size() + encoded.size() + 18, "\"%s\" -initialURL \"%s\"",
                                              program->c_str(), encoded.c_str());
    if (const std::optional<std::string>& configdir = run.configdir) {
        command_line = format_bounded(program->size() + encoded.size() + configdir->size() + 47, "%s -configdir \"%s\"",
                                      command_line.c_str(), configdir->c_str());
    }
    LOG_OSTRILO(LOG_DEBUG, "Calling: %s", command_line.c_str());
    // The empty title (not none) lets the viewer show its window normally.
    return start_child_program(run, command_line, std::string(), false, working_folder);
}

int is_vncviewer_version_equal_to_or_greater_than_2_1_4(run_context& run)
{
    LOG_OSTRILO(LOG_TRACE, "is_vncviewer_version_equal_to_or_greater_than_2.1.4()");
    const std::optional<std::string> path = find_vncviewer(run);
    if (!path)
        return 0;
    const auto refuse = [] {
        LOG_OSTRILO(LOG_WARN, "This version is too old to use the -initialURL parameter.");
        return 0;
    };
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path->c_str(), &handle);
    if (size == 0)
        return refuse();
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path->c_str(), handle, size, block.data()))
        return refuse();
    void* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", &info, &length) || length == 0)
        return refuse();
    const auto* version = static_cast<const VS_FIXEDFILEINFO*>(info);
    if (version->dwSignature != 0xFEEF04BD)
        return refuse();
    const unsigned major = HIWORD(version->dwFileVersionMS);
    const unsigned minor = LOWORD(version->dwFileVersionMS);
    const unsigned patch = HIWORD(version->dwFileVersionLS);
    const unsigned build = LOWORD(version->dwFileVersionLS);
    LOG_OSTRILO(LOG_TRACE, "VNC Viewer Version: %lu.%lu.%lu.%lu", static_cast<unsigned long>(major),
                static_cast<unsigned long>(minor), static_cast<unsigned long>(patch),
                static_cast<unsigned long>(build));
    if (!viewer_version_takes_initial_url(major, minor, patch))
        return refuse();
    return 1;
}

namespace {

constexpr DWORD child_idle_wait_ms = 30000;

}  // namespace

unsigned long start_child_program(run_context& run, const std::string& command_line,
                                  const std::optional<std::string>& window_title, bool wait,
                                  const std::optional<std::string>& working_folder)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    // A title, even the empty one, means the program is to be seen.
    startup.wShowWindow = window_title ? SW_SHOWDEFAULT : SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    const std::string folder = working_folder ? *working_folder : get_kvix_installpath(run);
    // CreateProcessA may write into the command line.
    std::vector<char> writable(command_line.begin(), command_line.end());
    writable.push_back('\0');
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &started)) {
        fatal_error(1, L"Fataler Fehler! Der Start eines notwendigen Programms ist fehlgeschlagen.",
                    event_kind::program_failed);
    }
    const unique_process_information process = own_process(started);
    LOG_ENVIRONMENT(LOG_TRACE, "Wait for child program to open a window... ");
    // Bounded: a program that never becomes ready for input (hung, or started
    // where no desktop is) must not hold this run, nor the logon or the
    // installation that started it.
    if (WaitForInputIdle(process.process.get(), child_idle_wait_ms) == WAIT_TIMEOUT)
        LOG_ENVIRONMENT(LOG_WARN, "The child program was not ready for input within %lu ms; going on.",
                        child_idle_wait_ms);
    else
        LOG_ENVIRONMENT(LOG_TRACE, "OK, looks ready.");
    if (window_title_worth_searching(window_title)) {
        HWND window = FindWindowA(nullptr, window_title->c_str());
        if (window != nullptr) {
            ShowWindowAsync(window, SW_SHOWMINIMIZED);
            ShowWindowAsync(window, SW_SHOWNORMAL);
        } else {
            LOG_ENVIRONMENT(LOG_ERROR, "CAN NOT FIND WINDOW");
        }
    }
    if (wait) {
        WaitForSingleObject(process.process.get(), INFINITE);
        LOG_ENVIRONMENT(LOG_TRACE, "Child program has just left the building");
    }
    return process.process_id;
}
