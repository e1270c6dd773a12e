// The title of error boxes and the fatal error: a German box, then the end.
#include "ostrilo.h"

#include "nb_utils.h"
#include "unique_resource.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>

namespace {

std::optional<std::wstring> title;

}  // namespace

void set_error_box_title(const std::optional<std::wstring>& new_title)
{
    if (!new_title)
        fatal_error(1, L"Fehler: error_box_title sollte zu NULL gesetzt werden.", event_kind::internal_error);
    title = *new_title;
}

const std::optional<std::wstring>& error_box_title()
{
    return title;
}

std::wstring fatal_error_text(const std::wstring& message, unsigned error_number,
                              const std::optional<std::wstring>& system_text)
{
    if (error_number == 0)
        return message;
    // When the system has no text for the number, the box still names the
    // number, so that a user can report it, and says that no text exists.
    std::wstring explanation = system_text ? *system_text : std::wstring(L"(keine Beschreibung verfügbar)");
    return format_wide_bounded(explanation.size() + message.size() + 41, L"%ls\n\nSystemfehlercode %d: %ls",
                               message.c_str(), static_cast<int>(error_number), explanation.c_str());
}

void fatal_error(unsigned status, const std::wstring& message, event_kind kind)
{
    if (!title)
        title = L"Corvane-Pro Error";
    unsigned error_number = static_cast<unsigned>(errno);
    unique_local<wchar_t*> system_text;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                   error_number, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<wchar_t*>(system_text.put()), 0, nullptr);
    std::optional<std::wstring> system_message;
    if (system_text)
        system_message = system_text.get();
    std::wstring text = fatal_error_text(message, error_number, system_message);
    // Written before the box, which may stand for hours; the error number is
    // taken before the event's own calls could change it.
    write_box_event(kind, text);
    MessageBoxW(nullptr, text.c_str(), title->c_str(), 0);
    std::exit(static_cast<int>(error_number != 0 ? error_number : status));
}

void fatal_error_if(unsigned status, const std::wstring& message, event_kind kind)
{
    if (status != 0)
        fatal_error(status, message, kind);
}
