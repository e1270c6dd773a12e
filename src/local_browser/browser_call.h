// The texts that start a local browser, made apart from Win32 so that they
// can be tested as tables.
#pragma once

#include <optional>
#include <string>

// Room for a browser call or a shell file text, terminator included.
inline constexpr std::size_t browser_call_size = 4096;

// "\"path\" \"url\"", cut at 4095 characters. Nothing inside is escaped: a
// double quote in the URL stays as it is, between the outer quotes.
std::wstring browser_call_text(const std::wstring& path, const std::wstring& url);

// "microsoft-edge:" directly followed by the URL, cut at 4094 characters.
std::wstring edge_protocol_text(const std::wstring& url);

// --- safe_browser_arguments=1 ---
// The longest argument handed over: a browser call with a program path of up
// to 260 characters then still fits the call's room uncut.
inline constexpr std::size_t safe_argument_limit = browser_call_size - 1 - 263;

// The link as exactly one command-line argument: blanks, quotes and control
// characters percent-encoded (upper-case hex, as browsers write them), the
// rest as it is; a file path in quotes instead. None when it still cannot be
// passed safely: empty, beginning with "-" or "/", holding a lone surrogate,
// or longer than safe_argument_limit.
std::optional<std::wstring> safe_browser_argument(const std::wstring& url, bool is_file);
// "\"path\" argument", never cut (the argument was bounded above).
std::wstring safe_browser_call_text(const std::wstring& path, const std::wstring& argument);
