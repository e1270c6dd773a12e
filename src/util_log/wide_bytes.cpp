// Widening bytes one by one, with its record.
#include "util_log.h"

#include "log.h"

std::wstring char_to_wchar(std::string_view text)
{
    LOG_OSTRILO(LOG_TRACE, "Converting char to wchar_t");
    // Each byte becomes the wide character of the same value, as mbstowcs does
    // in the default "C" locale: ASCII stays, 0x80-0xFF become U+0080-U+00FF.
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}
