// The texts that start a local browser.
#include "browser_call.h"

#include "nb_utils.h"

std::wstring browser_call_text(const std::wstring& path, const std::wstring& url)
{
    return format_wide_bounded(browser_call_size, L"\"%ls\" \"%ls\"", path.c_str(), url.c_str());
}

std::wstring edge_protocol_text(const std::wstring& url)
{
    // The bound is one less than the buffer, so one character fewer is kept
    // than in a browser call.
    return format_wide_bounded(browser_call_size - 1, L"microsoft-edge:%ls", url.c_str());
}

std::optional<std::wstring> safe_browser_argument(const std::wstring& url, bool is_file)
{
    static constexpr wchar_t hex_digits[] = L"0123456789ABCDEF";
    if (url.empty())
        return std::nullopt;
    if (is_file) {
        // A file path holds no quote and does not end in a backslash, so in
        // quotes it is one argument, blanks and all.
        if (url.find(L'"') != std::wstring::npos || url.back() == L'\\')
            return std::nullopt;
        return L"\"" + url + L"\"";
    }
    std::wstring argument;
    for (std::size_t i = 0; i < url.size(); ++i) {
        const wchar_t c = url[i];
        // A lone surrogate has no UTF-8 form a browser would read back.
        const bool high = c >= 0xd800 && c <= 0xdbff, low = c >= 0xdc00 && c <= 0xdfff;
        if (high && i + 1 < url.size() && url[i + 1] >= 0xdc00 && url[i + 1] <= 0xdfff) {
            argument += c;
            argument += url[++i];
            continue;
        }
        if (high || low)
            return std::nullopt;
        if (c <= 0x20 || c == 0x7f || c == L'"') {
            argument += L'%';
            argument += hex_digits[c >> 4];
            argument += hex_digits[c & 0x0f];
        } else if (c >= 0x80 && c <= 0x9f) {
            // C1 controls, in their UTF-8 form.
            argument += L"%C2%";
            argument += hex_digits[c >> 4];
            argument += hex_digits[c & 0x0f];
        } else {
            argument += c;
        }
    }
    // Browsers read "-x" and "/x" as switches of their own.
    if (argument.front() == L'-' || argument.front() == L'/' || argument.size() > safe_argument_limit)
        return std::nullopt;
    return argument;
}

std::wstring safe_browser_call_text(const std::wstring& path, const std::wstring& argument)
{
    // The argument needs no quotes of its own: it holds no blank and no quote,
    // or it is a quoted file path already.
    return L"\"" + path + L"\" " + argument;
}
