// The events of the Windows event log (opt-in, event_log in ostrilo.cfg):
// what an administrator acts on, and with event_log=2 every routed link.
// Like the log, they are process-wide: any unit and the error boxes write
// them, with or without a run. The kinds are the rows of event_table.h.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

enum class event_level { information, warning, error };

#define OSTRILO_BOX_MESSAGE(message)
#define OSTRILO_EVENT(id, name, level, key, message) name = id,
#define OSTRILO_BOX(id, name, reason) name = id,
enum class event_kind : unsigned short {
#include "event_table.h"
};
#undef OSTRILO_BOX_MESSAGE
#undef OSTRILO_EVENT
#undef OSTRILO_BOX

// The highest %N of a message: how many insertion strings it takes.
constexpr int insertion_count(std::string_view message)
{
    int highest = 0;
    for (std::size_t i = 0; i + 1 < message.size(); ++i)
        if (message[i] == '%' && message[i + 1] >= '1' && message[i + 1] <= '9' && message[i + 1] - '0' > highest)
            highest = message[i + 1] - '0';
    return highest;
}

struct event_row {
    event_kind kind;
    const char* name;
    event_level level;
    int key;              // the event_log value from which it is written
    const char* message;  // as the message file holds it: %1 to %9, %n a line break
    const char* reason;   // an error box's English reason (its first string), else ""
    int strings = insertion_count(message);
};

#define OSTRILO_BOX_MESSAGE(message) inline constexpr char box_event_message[] = message;
#define OSTRILO_EVENT(id, name, level, key, message)
#define OSTRILO_BOX(id, name, reason)
#include "event_table.h"
#undef OSTRILO_BOX_MESSAGE
#undef OSTRILO_EVENT
#undef OSTRILO_BOX

#define OSTRILO_BOX_MESSAGE(message)
#define OSTRILO_EVENT(id, name, level, key, message) {event_kind::name, #name, event_level::level, key, message, ""},
#define OSTRILO_BOX(id, name, reason) {event_kind::name, #name, event_level::error, 1, box_event_message, reason},
inline constexpr event_row event_rows[] = {
#include "event_table.h"
};
#undef OSTRILO_BOX_MESSAGE
#undef OSTRILO_EVENT
#undef OSTRILO_BOX

constexpr const event_row& event_row_of(event_kind kind)
{
    for (const event_row& row : event_rows)
        if (row.kind == kind)
            return row;
    return event_rows[0];
}

// An insertion string: wide text, or UTF-8 (a text that is not UTF-8, such as
// a path in the ANSI code page, widened byte by byte).
struct event_text {
    std::wstring text;
    event_text(const std::wstring& wide) : text(wide) {}
    event_text(const wchar_t* wide) : text(wide) {}
    event_text(std::string_view utf8);
    event_text(const std::string& utf8) : event_text(std::string_view(utf8)) {}
    event_text(const char* utf8) : event_text(std::string_view(utf8)) {}
};

// How the run's event_log value is read: asked once, by the first event that
// might be written, so that a run that writes none does not even read the key.
// Until it is set (ostrilo-admin never sets it), no event is written.
void set_event_log_key(std::function<int()> read_key);
// Whether the kind is written in this run (event_log reaches its key).
bool event_wanted(event_kind kind);
void write_event_texts(event_kind kind, const event_text* texts, std::size_t count);

// Writes the event, with exactly as many strings as its message takes. The
// source is registered with the first event of the run.
template <event_kind kind, class... Texts>
void write_event(const Texts&... texts)
{
    static_assert(sizeof...(Texts) == event_row_of(kind).strings, "the strings of the event's message");
    if (!event_wanted(kind))
        return;
    const event_text all[] = {event_text(texts)...};
    write_event_texts(kind, all, sizeof...(Texts));
}

// The Error event of an error box: the kind's English reason and the box's text.
void write_box_event(event_kind kind, const std::wstring& box_text);
