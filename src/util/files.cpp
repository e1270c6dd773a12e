// Conversions and file functions on the Win32 edge.
#include "nb_utils.h"

#include "unique_resource.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

std::optional<std::wstring> utf8_to_wide(std::string_view text)
{
    int length = static_cast<int>(text.size());
    if (length == 0)
        return std::wstring();
    int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), needed) == 0)
        return std::nullopt;
    return wide;
}

std::optional<std::string> wide_to_utf8(std::wstring_view text)
{
    int length = static_cast<int>(text.size());
    if (length == 0)
        return std::string();
    int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::nullopt;
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(), needed, nullptr, nullptr) == 0)
        return std::nullopt;
    return narrow;
}

bool file_exists(std::string_view path)
{
    std::optional<std::wstring> wide = utf8_to_wide(path);
    if (!wide)
        return false;
    const unique_file file(_wfopen(wide->c_str(), L"r"));
    return static_cast<bool>(file);
}

bool file_exists(const std::optional<std::string>& path)
{
    return path && file_exists(std::string_view(*path));
}

void replace_file(const std::string& source, const std::string& target)
{
    std::optional<std::wstring> wide_source = utf8_to_wide(source);
    std::optional<std::wstring> wide_target = utf8_to_wide(target);
    if (!wide_source || !wide_target)
        return;
    if (file_exists(target))
        DeleteFileW(wide_target->c_str());
    _wrename(wide_source->c_str(), wide_target->c_str());
}

unsigned long get_program_folder(char* buffer, unsigned long size)
{
    if (size < 2)
        return 0;
    DWORD length = GetModuleFileNameA(nullptr, buffer, size - 1);
    if (length == 0)
        return 0;
    buffer[length < size - 1 ? length : size - 2] = '\0';
    if (char* last = std::strrchr(buffer, '\\'))
        last[1] = '\0';
    return length;
}

std::string program_folder()
{
    // Asked afresh each time rather than kept: the answer never changes, and
    // asking costs less than a file test.
    char buffer[8192];
    return get_program_folder(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}
