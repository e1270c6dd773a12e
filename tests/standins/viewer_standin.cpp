// Stand-in for the remote-browser viewer (and its selector): a GUI program
// that honours the viewer's side of the hand-off and records what it got.
//
// Its behaviour comes from its environment, which a test sets directly or
// which Ostrilo passes on when it starts the program:
//   STANDIN_RECORD_DIR         folder for the records (nothing is recorded without it)
//   STANDIN_NAME               prefix of the record files (default: the program's base name)
//   STANDIN_WINDOW=1           show a top-level window ...
//   STANDIN_WINDOW_TITLE       ... with this title (empty when unset)
//   STANDIN_PIPE               serve the named pipe of this full name
//   STANDIN_PUBLISH_PIPE_NAME  "1": write the pipe name into the pipe-name file
//                              (%TMP%\kvixtemp\feldrun_pipename) without a line end;
//                              "line_end": the same followed by CR LF
//   STANDIN_HOLD_CLIPBOARD=1   keep the clipboard open (for the window, when there is one),
//                              so that others cannot write it
// Records, each <prefix>.<kind> in the record folder:
//   pid       the process id, for the test to end the program
//   cmdline   the command line as UTF-8, exactly
//   cwd       the working folder as UTF-8
//   pipe.N    the bytes of the N-th pipe message, exactly (written whole, then renamed)
//   events    one line per "minimized" / "restored" / "activated" of the window
// The program runs until it is ended from outside.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring record_prefix;  // folder and name prefix; empty when nothing is recorded
bool recording_events = false;

std::wstring environment(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    return length > 0 && length < 32768 ? std::wstring(buffer, length) : std::wstring();
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
    return result;
}

// Writes the file whole under a temporary name first, so that a reader never
// sees half of it.
void write_record(const std::wstring& kind, const std::string& bytes, bool append = false) {
    if (record_prefix.empty()) return;
    const std::wstring path = record_prefix + L"." + kind;
    if (append) {
        FILE* file = _wfopen(path.c_str(), L"ab");
        if (file == nullptr) return;
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
        return;
    }
    const std::wstring temporary = path + L".tmp";
    FILE* file = _wfopen(temporary.c_str(), L"wb");
    if (file == nullptr) return;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void publish_pipe_name(const std::wstring& pipe, const std::wstring& mode) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0) return;
    const std::wstring folder = std::wstring(temp, length) + L"kvixtemp";
    CreateDirectoryW(folder.c_str(), nullptr);
    FILE* file = _wfopen((folder + L"\\feldrun_pipename").c_str(), L"wb");
    if (file == nullptr) return;
    std::string content = utf8(pipe);
    if (mode == L"line_end") content += "\r\n";
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
}

HANDLE make_pipe_instance(const std::wstring& name) {
    return CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
}

struct pipe_server {
    std::wstring name;
    HANDLE first_instance;
};

// Each client writes one message and closes its end; the message is all that
// arrives before the close.
DWORD WINAPI serve_pipe(void* parameter) {
    const auto* server = static_cast<pipe_server*>(parameter);
    HANDLE instance = server->first_instance;
    for (int number = 1; instance != INVALID_HANDLE_VALUE; ++number) {
        if (!ConnectNamedPipe(instance, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) break;
        HANDLE next = make_pipe_instance(server->name);
        std::string message;
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(instance, buffer, sizeof buffer, &read, nullptr) || GetLastError() == ERROR_MORE_DATA) {
            if (read == 0) break;
            message.append(buffer, read);
        }
        write_record(L"pipe." + std::to_wstring(number), message);
        DisconnectNamedPipe(instance);
        CloseHandle(instance);
        instance = next;
    }
    return 0;
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (recording_events) {
        if (message == WM_SIZE && wparam == SIZE_MINIMIZED) write_record(L"events", "minimized\n", true);
        if (message == WM_SIZE && wparam == SIZE_RESTORED) write_record(L"events", "restored\n", true);
        if (message == WM_ACTIVATE && LOWORD(wparam) != WA_INACTIVE) write_record(L"events", "activated\n", true);
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

std::wstring program_base_name() {
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const std::wstring record_dir = environment(L"STANDIN_RECORD_DIR");
    if (!record_dir.empty()) {
        std::wstring prefix = environment(L"STANDIN_NAME");
        if (prefix.empty()) prefix = program_base_name();
        record_prefix = record_dir + L"\\" + prefix;
    }
    write_record(L"pid", std::to_string(GetCurrentProcessId()));
    write_record(L"cmdline", utf8(GetCommandLineW()));
    wchar_t folder[32768] = {};
    GetCurrentDirectoryW(32768, folder);
    write_record(L"cwd", utf8(folder));

    const std::wstring pipe_name = environment(L"STANDIN_PIPE");
    static pipe_server server;
    if (!pipe_name.empty()) {
        server.name = pipe_name;
        server.first_instance = make_pipe_instance(pipe_name);
        CloseHandle(CreateThread(nullptr, 0, serve_pipe, &server, 0, nullptr));
        const std::wstring publish = environment(L"STANDIN_PUBLISH_PIPE_NAME");
        if (!publish.empty()) publish_pipe_name(pipe_name, publish);
    }

    HWND window = nullptr;
    if (environment(L"STANDIN_WINDOW") == L"1") {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = window_procedure;
        window_class.hInstance = instance;
        window_class.lpszClassName = L"OstriloViewerStandin";
        RegisterClassW(&window_class);
        const std::wstring title = environment(L"STANDIN_WINDOW_TITLE");
        window = CreateWindowExW(0, window_class.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                                 10, 320, 200, nullptr, nullptr, instance, nullptr);
    }

    if (environment(L"STANDIN_HOLD_CLIPBOARD") == L"1") OpenClipboard(window);

    // Everything is set up before the first wait for input, so that whoever
    // waits for this program to become idle finds its window and pipe.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    recording_events = true;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
