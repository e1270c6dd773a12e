// Handing one URL to the running viewer: its named pipe first, the clipboard
// when the pipe fails.
#include <cstdio>
#include <cstring>

#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "unique_resource.h"
#include "viewer.h"
#include "run_context.h"
#include "viewer_win32.h"

namespace {

const char default_pipe_name[] = "\\\\.\\pipe\\feldrun-pipe";

// The first line of the pipe-name file is read up to this many bytes, line
// end included.
constexpr int pipe_name_line_bytes = 4094;

}  // namespace

std::optional<std::string> get_pipe_name_file_path(run_context& run)
{
    LOG_ENVIRONMENT(LOG_TRACE, "Get filename where the feldrun named pipe name for this user is stored.");
    std::optional<std::string>& pipe_name_file_path = run.viewer.pipe_name_file_path;
    if (pipe_name_file_path)
        return pipe_name_file_path;
    // Without a per-user temporary folder there is no pipe-name file to read;
    // the caller then takes the default pipe name, as for a missing file.
    const std::optional<std::string> folder = get_kvix_tempdir(run);
    if (!folder)
        return std::nullopt;
    // The folder ends in a backslash already; the doubled separator is
    // accepted by the Windows file functions.
    pipe_name_file_path = *folder + "\\feldrun_pipename";
    return pipe_name_file_path;
}

std::string get_pipe_name(run_context& run)
{
    const std::optional<std::string> path = get_pipe_name_file_path(run);
    LOG_OSTRILO(LOG_DEBUG, "Looking for file: %s", path ? path->c_str() : "(null)");
    std::string name = default_pipe_name;
    const unique_file file(path ? std::fopen(path->c_str(), "r") : nullptr);
    if (!file) {
        LOG_OSTRILO(LOG_WARN, "Couldn't find file that contains the pipe name. Using standard name.");
    } else {
        LOG_OSTRILO(LOG_DEBUG, "Found feldrun temp file (I should be able to read a pipe name from it)");
        // Taken exactly as read, line end included: a viewer must write the
        // name without one.
        char line[pipe_name_line_bytes + 1] = {};
        if (std::fgets(line, sizeof line, file.get()) != nullptr) {
            name = line;
            LOG_OSTRILO(LOG_TRACE, "Read pipe name from file: '%s'", name.c_str());
        }
    }
    LOG_OSTRILO(LOG_DEBUG, "Pipe name: %s", name.c_str());
    return name;
}

int send_url_to_vncviewer_with_pipe(run_context& run, const std::wstring& url)
{
    LOG_OSTRILO(LOG_DEBUG, "send_url_to_vncviewer_with_pipe(): Trying to send a WindowsMessage to the vnc viewer");
    const std::optional<std::string> utf8 = wide_to_utf8(url);
    // Text that has no UTF-8 form cannot go through the pipe; the clipboard
    // takes the wide text as it is.
    if (!utf8)
        return 0;
    const std::string encoded = url_encode(*utf8);
    const std::string name = get_pipe_name(run);
    // No WaitNamedPipe: a busy pipe counts as failure, and the clipboard
    // takes over at once.
    const unique_file_handle pipe(
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!pipe)
        return 0;
    // The message is the encoded text and its NUL byte, in one write.
    DWORD written = 0;
    const DWORD length = static_cast<DWORD>(encoded.size() + 1);
    if (!WriteFile(pipe.get(), encoded.c_str(), length, &written, nullptr))
        return 0;
    print_to_stdout("Sent (encoded) URL: '%s'", encoded.c_str());
    return 1;
}

bool send_url_to_vncviewer(run_context& run, const std::wstring& url)
{
    const std::wstring clipboard_text = format_wide_bounded(url.size() + 7, L"nburl:%ls", url.c_str());
    if (send_url_to_vncviewer_with_pipe(run, url) == 1)
        return true;
    LOG_OSTRILO(LOG_WARN,
                "I couldn't write the url to the pipe. Probably the viewer is older than 2.1.4 or it is not running "
                "with 'multi'. I am going to use the clipboard instead.");
    LOG_OSTRILO(LOG_DEBUG, "Starting put_clipboard(%ls)", clipboard_text.c_str());
    put_clipboard(clipboard_text);
    return false;
}

void put_clipboard(const std::wstring& text)
{
    LOG_OSTRILO(LOG_DEBUG, "put_clipboard(%ls)", text.c_str());
    const SIZE_T size = (text.size() + 1) * sizeof(wchar_t);
    LOG_OSTRILO(LOG_TRACE, "Starting GlobalAlloc(GMEM_MOVEABLE, %lu)", static_cast<unsigned long>(size));
    unique_hglobal block(GlobalAlloc(GMEM_MOVEABLE, size));
    const wchar_t* const no_memory =
        L"Ich konnte nichts in die Zwischenablage kopieren, da ich keinen Speicher global allozieren konnte. "
        L"Das ist sonderbar. Ist der Arbeitsspeicher überfüllt?";
    fatal_error_if(block.get() == nullptr, no_memory, event_kind::clipboard_failed);

    LOG_OSTRILO(LOG_TRACE, "stating memcpy");
    locked_global locked = lock_global(block.get());
    // A block that cannot be locked is as good as no memory at all.
    fatal_error_if(locked.memory == nullptr, no_memory, event_kind::clipboard_failed);
    std::memcpy(locked.memory, text.c_str(), size);
    fatal_error_if(unlock_global(locked),
                   L"Ich konnte nichts in die Zwischenablage kopieren, da ich dafür vorgesehenen Speicher nicht "
                   L"freischalten konnte.",
                   event_kind::clipboard_failed);

    LOG_OSTRILO(LOG_TRACE, "starting OpenClipboard()");
    unique_clipboard clipboard = open_clipboard();
    for (int retry = 0; retry < 2 && !clipboard; ++retry) {
        LOG_OSTRILO(LOG_WARN, "Clipboard did not open, try again.");
        Sleep(400);
        clipboard = open_clipboard();
    }
    fatal_error_if(!clipboard,
                   L"Ich konnte nichts in die Zwischenablage kopieren, da ich diese nicht öffnen konnte. Ein anderes "
                   L"Programm blockiert die Zwischenablage und gibt sie nicht wieder frei. Die Zwischenablage wird "
                   L"aber benötigt, damit ich den Link an den Corvane-Pro VNC-Viewer weiterreichen kann. Bitte "
                   L"beenden sie das verantwortliche Programm oder sorgen sie anderweitig dafür, dass es die "
                   L"Zwischenablage frei gibt, und rufen sie danach den Link erneut auf.",
                   event_kind::clipboard_blocked);
    fatal_error_if(!EmptyClipboard(), L"Ich konnte die Zwischenablage nicht leeren.", event_kind::clipboard_failed);
    fatal_error_if(SetClipboardData(CF_UNICODETEXT, block.get()) == nullptr,
                   L"Ich konnte nichts in die Zwischenablage kopieren.", event_kind::clipboard_failed);
    // The block belongs to the clipboard now.
    block.release();
    fatal_error_if(!close_clipboard(clipboard), L"Ich konnte die Zwischenablage nicht schließen.",
                   event_kind::clipboard_failed);
    LOG_OSTRILO(LOG_TRACE, "returning from put_clipboard()");
}

void free_viewer_state(run_context& run)
{
    run.viewer.pipe_name_file_path.reset();
    run.viewer.os_user_name.reset();
}
