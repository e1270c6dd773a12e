// Text helpers: text in, text out, no Win32.
#include "nb_utils.h"

#include <algorithm>

namespace {

bool is_space(unsigned char c)
{
    // The runtime's isspace in the default locale; bytes from 0x80 on never count.
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char ascii_upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool starts_with(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<std::size_t> find_ignoring_case(std::string_view haystack, std::string_view needle)
{
    if (needle.empty())
        return 0;
    for (std::size_t start = 0; start + needle.size() <= haystack.size(); ++start) {
        std::size_t i = 0;
        while (i < needle.size() && ascii_upper(haystack[start + i]) == ascii_upper(needle[i]))
            ++i;
        if (i == needle.size())
            return start;
    }
    return std::nullopt;
}

std::string replace_all(std::string_view text, std::string_view search, std::string_view replacement)
{
    std::string result;
    if (search.empty())
        return std::string(text);
    std::size_t from = 0;
    for (std::size_t hit = text.find(search); hit != std::string_view::npos; hit = text.find(search, from)) {
        result.append(text.substr(from, hit - from));
        result.append(replacement);
        from = hit + search.size();
    }
    result.append(text.substr(from));
    return result;
}

std::string_view trim(std::string_view line)
{
    // A line break is never kept, even in the middle of the line. Every rule
    // line comes through here: one pass over it (find_first_of would search
    // its set once for each byte).
    const auto line_break = std::find_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; });
    line = line.substr(0, static_cast<std::size_t>(line_break - line.begin()));
    std::size_t first = 0;
    while (first < line.size() && is_space(static_cast<unsigned char>(line[first])))
        ++first;
    std::size_t last = line.size();
    while (last > first && is_space(static_cast<unsigned char>(line[last - 1])))
        --last;
    return line.substr(first, last - first);
}

std::optional<char> escaped_byte(std::string_view text, std::size_t at)
{
    if (text.size() < 3 || at > text.size() - 3 || text[at] != '%')
        return std::nullopt;
    const int high = hex_digit_value(text[at + 1]), low = hex_digit_value(text[at + 2]);
    if (high < 0 || low < 0)
        return std::nullopt;
    return static_cast<char>(high * 16 + low);
}

int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string ascii_lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

bool is_valid_utf8(std::string_view text)
{
    return valid_utf8_length(text) == text.size();
}

std::size_t valid_utf8_length(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xc2 && lead <= 0xdf ? 2
                             : lead >= 0xe0 && lead <= 0xef ? 3
                             : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                            : 0;
        if (length == 0 || text.size() - i < length)
            return i;
        // The second byte's range rules out overlong forms, surrogates and
        // code points above U+10FFFF.
        const auto second = static_cast<unsigned char>(length > 1 ? text[i + 1] : 0x80);
        const unsigned char low = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : 0xbf;
        if (length > 1 && (second < low || second > high))
            return i;
        for (std::size_t k = 2; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80)
                return i;
        }
        i += length;
    }
    return i;
}

std::string quoted_text(std::string_view text, std::size_t max_bytes)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = byte >= 0x20 && byte < 0x7f && c != '\\';
        if (out.size() + (plain ? 1 : 4) > max_bytes)
            return out + "...(cut)";
        if (plain) {
            out += c;
        } else {
            constexpr char hex[] = "0123456789abcdef";
            out += {'\\', 'x', hex[byte >> 4], hex[byte & 15]};
        }
    }
    return out;
}
