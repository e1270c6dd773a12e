// The bounded formatters and the browser calls made with them: the input as
// bytes, and as UTF-16 units (as on Windows): a path, a NUL, a link.
#include "browser_call.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = split_at_nul(input_text(data, size)).first;
    for (const std::size_t count : {1, 2, 4095})
        check(format_bounded(count, "%s", std::string(text).c_str()) == text.substr(0, count - 1),
              "count - 1 bytes kept");
    std::wstring units;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units += static_cast<wchar_t>(data[i] | data[i + 1] << 8);
    const std::wstring path = units.substr(0, units.find(L'\0')),
                       rest = units.substr(std::min(units.size(), path.size() + 1));
    const std::wstring url = rest.substr(0, rest.find(L'\0'));
    const std::wstring call = browser_call_text(path, url), edge = edge_protocol_text(url);
    check((L"\"" + path + L"\" \"" + url + L"\"").starts_with(call) && call.size() < browser_call_size,
          "the call, cut");
    check((L"microsoft-edge:" + url).starts_with(edge) && edge.size() <= 4094, "the edge call, cut");
    if (const std::optional<std::wstring> argument = safe_browser_argument(url, false)) {
        check(argument->front() != L'-' && argument->front() != L'/' && argument->size() <= safe_argument_limit &&
                  safe_browser_call_text(path, *argument) == L"\"" + path + L"\" " + *argument,
              "a safe argument starts no switch, fits and is not cut");
        for (const wchar_t c : *argument)
            check(c > 0x20 && c != L'"' && c != 0x7f && (c < 0x80 || c > 0x9f), "no blank, quote or control character");
    }
    if (const std::optional<std::wstring> argument = safe_browser_argument(url, true))
        check(*argument == L"\"" + url + L"\"" && url.find(L'"') == std::wstring::npos,
              "a file is one quoted argument");
    return 0;
}
