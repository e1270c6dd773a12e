// Natively, ostrilo-admin brings its own ends of the product's log and fatal
// error: records are dropped (the tool's output is its own) and a fatal error
// ends the tool with its message on standard error. Ostrilo.exe keeps its log
// and its error box. The UTF-8 conversions use the C library in its UTF-8
// locale, for their own calls only.
#include <locale.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "unique_resource.h"

bool log_wanted(int)
{
    return false;
}

void log_write(int, const char*, int, const char*, ...) {}

void fatal_error(unsigned status, const std::wstring& message, event_kind)
{
    std::fprintf(stderr, "ostrilo-admin: %ls\n", message.c_str());
    std::exit(static_cast<int>(status));
}

// As Windows' strict conversion: none for text that is not well-formed UTF-8.
std::optional<std::wstring> utf8_to_wide(std::string_view text)
{
    const unique_locale utf8(newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr));
    if (!utf8 || !is_valid_utf8(text))
        return std::nullopt;
    const thread_locale_restorer restore(uselocale(utf8.get()));
    std::wstring wide;
    std::mbstate_t state{};
    for (std::size_t i = 0; i < text.size();) {
        wchar_t c = 0;
        const std::size_t used = std::mbrtowc(&c, text.data() + i, text.size() - i, &state);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2))
            return std::nullopt;
        wide += c;
        i += used == 0 ? 1 : used;
    }
    return wide;
}

std::optional<std::string> wide_to_utf8(std::wstring_view text)
{
    const unique_locale utf8(newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr));
    if (!utf8)
        return std::nullopt;
    const thread_locale_restorer restore(uselocale(utf8.get()));
    std::string narrow;
    std::mbstate_t state{};
    for (wchar_t c : text) {
        char bytes[MB_LEN_MAX];
        const std::size_t made = std::wcrtomb(bytes, c, &state);
        if (made == static_cast<std::size_t>(-1))
            return std::nullopt;
        narrow.append(bytes, made);
    }
    return narrow;
}
