// The one regular-expression capture of the program (PCRE2, 8-bit).
#include "util_log.h"

#include "log.h"
#include "unique_resource.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace {

using unique_pcre2_code = unique_any<pcre2_code*, &pcre2_code_free>;
using unique_pcre2_match_data = unique_any<pcre2_match_data*, &pcre2_match_data_free>;

}  // namespace

std::optional<std::string> regex_capture(const std::string& subject, const char* pattern, int group)
{
    int error_code = 0;
    PCRE2_SIZE error_offset = 0;
    const unique_pcre2_code code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, 0,
                                               &error_code, &error_offset, nullptr));
    if (!code) {
        PCRE2_UCHAR message[120];
        pcre2_get_error_message(error_code, message, sizeof message);
        LOG_UTILS(LOG_ERROR, "PCRE2 regex compilation failed at offset %d: %s for pattern: %s",
                  static_cast<int>(error_offset), reinterpret_cast<const char*>(message), pattern);
        return std::nullopt;
    }
    const unique_pcre2_match_data data(pcre2_match_data_create(20, nullptr));
    if (!data)
        return std::nullopt;
    int result = pcre2_match(code.get(), reinterpret_cast<PCRE2_SPTR>(subject.c_str()), PCRE2_ZERO_TERMINATED, 0, 0,
                             data.get(), nullptr);
    if (result <= 0 || group < 0 || group >= 20)
        return std::nullopt;
    PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(data.get());
    PCRE2_SIZE start = offsets[2 * group];
    PCRE2_SIZE end = offsets[2 * group + 1];
    // An unset group has both offsets at PCRE2_UNSET; an empty one equal offsets.
    if (start == end || start == PCRE2_UNSET || end == PCRE2_UNSET)
        return std::nullopt;
    return subject.substr(start, end - start);
}
