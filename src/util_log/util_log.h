// The helpers that write records: they sit above the log, which the helpers
// of nb_utils.h lie below.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Widens each byte to the wide character of the same value.
std::wstring char_to_wchar(std::string_view text);
// The group's text of the first match, or none (no match, empty or unset group, bad pattern).
std::optional<std::string> regex_capture(const std::string& subject, const char* pattern, int group);
