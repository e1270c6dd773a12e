// Stand-in for the browsers, the viewer and its selector. Every start appends its command line and working folder,
// as two UTF-8 lines, to "<own path>.calls.txt". Its environment may ask for more:
//   STANDIN_PIPE            serve this named pipe: each message is written to "<own path>.pipe.N"
//   STANDIN_WINDOW          show a window with this title ("-": untitled)
//   STANDIN_HOLD_CLIPBOARD  "1": keep the clipboard open, so that others cannot write it
//   STANDIN_FOR             the file name of the only stand-in that takes the settings above
// With a pipe, a window or the clipboard it runs until it is ended, else it ends at once.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring own_path, pipe;

std::wstring environment(const wchar_t* name)
{
    wchar_t buffer[4096];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    return std::wstring(buffer, length < 4096 ? length : 0);
}

std::string utf8(const std::wstring& text)
{
    std::string result(text.size() * 3, '\0');
    result.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                                      static_cast<int>(result.size()), nullptr, nullptr));
    return result;
}

// Appended, or written under a temporary name first so that a reader never sees half of it.
void write(const std::wstring& path, const std::string& bytes, bool append = false)
{
    const std::wstring temporary = append ? path : path + L".tmp";
    if (FILE* file = _wfopen(temporary.c_str(), append ? L"ab" : L"wb")) {
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
    MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

HANDLE pipe_instance()
{
    return CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                            4096, 4096, 0, nullptr);
}

// Each client writes one message and closes its end.
DWORD WINAPI serve_pipe(void* first)
{
    for (HANDLE instance = first, next; instance != INVALID_HANDLE_VALUE; instance = next) {
        if (!ConnectNamedPipe(instance, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
            return 0;
        next = pipe_instance();
        std::string message;
        char buffer[4096];
        for (DWORD read = 0;
             (ReadFile(instance, buffer, sizeof buffer, &read, nullptr) || GetLastError() == ERROR_MORE_DATA) &&
             read > 0;)
            message.append(buffer, read);
        static int number = 0;
        write(own_path + L".pipe." + std::to_wstring(++number), message);
        CloseHandle(instance);
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    wchar_t path[MAX_PATH * 4] = {}, folder[MAX_PATH * 4] = {};
    own_path.assign(path, GetModuleFileNameW(nullptr, path, MAX_PATH * 4));
    GetCurrentDirectoryW(MAX_PATH * 4, folder);
    write(own_path + L".calls.txt", utf8(GetCommandLineW()) + "\n" + utf8(folder) + "\n", true);

    const std::wstring only_for = environment(L"STANDIN_FOR");
    const bool set_up = only_for.empty() || own_path.ends_with(L"\\" + only_for);
    pipe = set_up ? environment(L"STANDIN_PIPE") : L"";
    const std::wstring title = set_up ? environment(L"STANDIN_WINDOW") : L"";
    if (!pipe.empty())
        CloseHandle(CreateThread(nullptr, 0, serve_pipe, pipe_instance(), 0, nullptr));
    HWND window = nullptr;
    if (!title.empty()) {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = DefWindowProcW;
        window_class.hInstance = instance;
        window_class.lpszClassName = L"OstriloStandin";
        RegisterClassW(&window_class);
        window =
            CreateWindowExW(0, window_class.lpszClassName, title == L"-" ? L"" : title.c_str(),
                            WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 320, 200, nullptr, nullptr, instance, nullptr);
    }
    const bool hold = environment(L"STANDIN_HOLD_CLIPBOARD") == L"1" && OpenClipboard(window);
    if (pipe.empty() && title.empty() && !hold)
        return 0;
    // Set up before the first wait for input, so that whoever waits for this
    // program to become idle finds its window and pipe.
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
