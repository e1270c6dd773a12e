// A browser that only records how it was started: it appends its whole
// command line and its working folder, as two UTF-8 lines, to the file
// "<own path>.calls.txt" beside itself, and ends. Tests copy it under the
// names of the browsers the program starts.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string to_utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::wstring own_path(32768, L'\0');
    own_path.resize(GetModuleFileNameW(nullptr, own_path.data(), static_cast<DWORD>(own_path.size())));
    std::wstring folder(32768, L'\0');
    folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));

    std::string record = to_utf8(GetCommandLineW()) + "\n" + to_utf8(folder) + "\n";
    FILE* file = _wfopen((own_path + L".calls.txt").c_str(), L"ab");
    if (file == nullptr)
        return 2;
    std::fwrite(record.data(), 1, record.size(), file);
    std::fclose(file);
    return 0;
}
