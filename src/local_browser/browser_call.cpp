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
