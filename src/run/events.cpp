// Writing the events: the source "Ostrilo" of the Application log, registered
// with the first event of the run and given back when the process ends.
#include "events.h"

#include "nb_utils.h"
#include "unique_resource.h"
#include "util_log.h"

#include <optional>
#include <vector>

static_assert(insertion_count(box_event_message) == 2, "an error box's reason and its text");

namespace {

std::function<int()> read_event_log_key;
std::optional<int> event_log_key;
unique_event_source source;
bool source_tried = false;

// An insertion string longer than this is cut: the event log takes at most
// 31,839 characters a string and about 61,000 bytes an event.
constexpr std::size_t longest_text = 8000;

WORD event_type(event_level level)
{
    switch (level) {
        case event_level::information:
            return EVENTLOG_INFORMATION_TYPE;
        case event_level::warning:
            return EVENTLOG_WARNING_TYPE;
        case event_level::error:
            break;
    }
    return EVENTLOG_ERROR_TYPE;
}

}  // namespace

event_text::event_text(std::string_view utf8) : text(utf8_to_wide(utf8).value_or(std::wstring()))
{
    if (text.empty() && !utf8.empty())
        text = char_to_wchar(utf8);
}

void set_event_log_key(std::function<int()> read_key)
{
    read_event_log_key = std::move(read_key);
    event_log_key.reset();
}

bool event_wanted(event_kind kind)
{
    if (!event_log_key)
        event_log_key = read_event_log_key ? read_event_log_key() : 0;
    return *event_log_key >= event_row_of(kind).key;
}

void write_event_texts(event_kind kind, const event_text* texts, std::size_t count)
{
    if (!event_wanted(kind))
        return;
    if (!source_tried) {
        source_tried = true;
        source.reset(RegisterEventSourceW(nullptr, L"Ostrilo"));
    }
    if (!source)
        return;
    std::vector<std::wstring> cut;
    std::vector<const wchar_t*> strings;
    for (std::size_t i = 0; i < count; ++i)
        cut.push_back(texts[i].text.size() > longest_text ? texts[i].text.substr(0, longest_text) + L"..."
                                                          : texts[i].text);
    for (const std::wstring& text : cut)
        strings.push_back(text.c_str());
    const event_row& row = event_row_of(kind);
    ReportEventW(source.get(), event_type(row.level), 0, static_cast<DWORD>(kind), nullptr,
                 static_cast<WORD>(strings.size()), 0, strings.data(), nullptr);
}

void write_box_event(event_kind kind, const std::wstring& box_text)
{
    const event_text texts[] = {event_text(event_row_of(kind).reason), event_text(box_text)};
    write_event_texts(kind, texts, 2);
}
