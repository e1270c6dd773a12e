// The texts that start a local browser, made apart from Win32 so that they
// can be tested as tables.
#pragma once

#include <string>

// Room for a browser call or a shell file text, terminator included.
inline constexpr std::size_t browser_call_size = 4096;

// "\"path\" \"url\"", cut at 4095 characters. Nothing inside is escaped: a
// double quote in the URL stays as it is, between the outer quotes.
std::wstring browser_call_text(const std::wstring& path, const std::wstring& url);

// "microsoft-edge:" directly followed by the URL, cut at 4094 characters.
std::wstring edge_protocol_text(const std::wstring& url);
