// String, path and format helpers shared by every unit; none of them writes a
// record, so the log builds on them (the helpers that do write records are in
// util_log.h). The owners of Win32 and C runtime resources are in
// unique_resource.h beside it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// --- Text in, text out (no Win32) ---
bool starts_with(std::string_view text, std::string_view prefix);
bool ends_with(std::string_view text, std::string_view suffix);
// Position of the first match inside haystack (ASCII letters fold), or none.
std::optional<std::size_t> find_ignoring_case(std::string_view haystack, std::string_view needle);
// search must not be empty; occurrences do not overlap.
std::string replace_all(std::string_view text, std::string_view search, std::string_view replacement);
// Cut at the first CR or LF, then drop leading and trailing white space.
std::string_view trim(std::string_view line);
// Lower-cases A-Z only; every other byte stays.
std::string ascii_lower(std::string_view text);
// The value of a hex digit (either case), or -1.
int hex_digit_value(char c);
// The byte a percent escape "%XY" (either case) at `at` stands for, or none
// when no "%" with two hex digits stands there.
std::optional<char> escaped_byte(std::string_view text, std::size_t at);
// Outside text for a record, a note or a message: printable ASCII as it is,
// every other byte (and "\") as \xNN, at most max_bytes, marked "...(cut)"
// where it is cut; never a line break or a control character.
std::string quoted_text(std::string_view text, std::size_t max_bytes = 200);
// True when text is well-formed UTF-8 as Windows' strict conversion reads it:
// no overlong forms, no surrogates, nothing above U+10FFFF, no cut sequence.
bool is_valid_utf8(std::string_view text);
// How many bytes from the start are well-formed UTF-8 in that sense (where
// the first fault begins; the whole size when there is none).
std::size_t valid_utf8_length(std::string_view text);

// printf-style formatting; the bounded forms keep at most count - 1 characters.
std::string format_bounded(std::size_t count, const char* format, ...);
std::wstring format_wide_bounded(std::size_t count, const wchar_t* format, ...);
std::string format_unbounded(const char* format, ...);
void print_to_stdout(const char* format, ...);
// Turns print_to_stdout off (or on again).
void set_stdout_lines(bool on);

// --- Win32 edge ---
std::optional<std::wstring> utf8_to_wide(std::string_view text);
std::optional<std::string> wide_to_utf8(std::wstring_view text);
// True when the UTF-8 path can be opened for reading (a folder cannot).
bool file_exists(std::string_view path);
bool file_exists(const std::optional<std::string>& path);
inline bool file_exists(const std::string& path)
{
    return file_exists(std::string_view(path));
}
inline bool file_exists(const char* path)
{
    return file_exists(std::string_view(path));
}
// Deletes target when it is there, then renames source to target (nothing
// when a path is not UTF-8). Writes no record: the log rotates with it.
void replace_file(const std::string& source, const std::string& target);
// Folder of the running program file, with its trailing backslash, in buffer;
// gives the length of the full program path, 0 on failure.
unsigned long get_program_folder(char* buffer, unsigned long size);
// The program folder, as get_program_folder gives it, or empty.
std::string program_folder();
