#include "sandbox.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwctype>
#include <set>

namespace {

struct handle {
    HANDLE h = nullptr;
    handle() = default;
    explicit handle(HANDLE value) : h(value == INVALID_HANDLE_VALUE ? nullptr : value) {}
    ~handle() { if (h) CloseHandle(h); }
    handle(const handle&) = delete;
    handle& operator=(const handle&) = delete;
};

std::wstring env_value(const wchar_t* name)
{
    wchar_t buffer[32768];
    DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    return length ? std::wstring(buffer, length) : std::wstring();
}

std::wstring test_name()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "outside-test";
    std::wstring wide = widen(name);
    for (wchar_t& c : wide) {
        if (!std::iswalnum(c) && c != L'.' && c != L'-')
            c = L'_';
    }
    return wide;
}

struct enum_state {
    DWORD process_id;
    std::set<HWND>* seen;
    std::vector<message_box>* boxes;
};

std::wstring window_text(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

BOOL CALLBACK collect_box(HWND window, LPARAM parameter)
{
    auto* state = reinterpret_cast<enum_state*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != state->process_id || !IsWindowVisible(window))
        return TRUE;
    wchar_t class_name[64] = L"";
    GetClassNameW(window, class_name, 64);
    if (std::wcscmp(class_name, L"#32770") != 0)
        return TRUE;
    if (state->seen->insert(window).second) {
        HWND text_control = GetDlgItem(window, 0xFFFF);
        state->boxes->push_back({window_text(window), text_control ? window_text(text_control) : std::wstring()});
    }
    // Press OK (again, should the first press not have closed it yet).
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

std::string read_all(const std::wstring& path)
{
    return read_file(path).value_or(std::string());
}

}  // namespace

std::wstring widen(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string narrow(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr, nullptr);
    return text;
}

std::vector<log_record> parse_log(const std::string& text)
{
    std::vector<log_record> records;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 2;
        // The time is "HH:MM:SS" on standard error and "YYYY-MM-DD HH:MM:SS" in the file.
        std::size_t time_end = (line.size() > 10 && line[4] == '-') ? 19 : 8;
        if (line.size() < time_end + 7)
            continue;
        log_record record;
        record.time = line.substr(0, time_end);
        record.level = line.substr(time_end + 1, 5);
        while (!record.level.empty() && record.level.back() == ' ')
            record.level.pop_back();
        std::size_t unit_start = time_end + 7;
        std::size_t colon = line.find(':', unit_start);
        std::size_t message_start = colon == std::string::npos ? std::string::npos : line.find(": ", colon + 1);
        if (colon == std::string::npos || message_start == std::string::npos)
            continue;
        record.unit = line.substr(unit_start, colon - unit_start);
        record.line = std::atoi(line.substr(colon + 1, message_start - colon - 1).c_str());
        record.message = line.substr(message_start + 2);
        records.push_back(record);
    }
    return records;
}

std::vector<log_record> run_result::records() const
{
    return parse_log(err);
}

bool run_result::logged(std::string_view level, std::string_view message) const
{
    for (const log_record& record : records()) {
        if (record.level == level && record.message == message)
            return true;
    }
    return false;
}

int run_result::find_record(std::string_view message, int from) const
{
    std::vector<log_record> all = records();
    for (int i = from; i < static_cast<int>(all.size()); ++i) {
        if (all[static_cast<std::size_t>(i)].message == message)
            return i;
    }
    return -1;
}

std::wstring bin_folder()
{
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring real_program_files()
{
    return env_value(L"ProgramFiles");
}

std::wstring real_program_files_x86()
{
    return env_value(L"ProgramFiles(x86)");
}

void make_folders(const std::wstring& path)
{
    for (std::size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

void remove_tree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
    DeleteFileW(path.c_str());
}

void write_file(const std::wstring& path, std::string_view content)
{
    make_folders(path.substr(0, path.find_last_of(L'\\')));
    handle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(file.h, nullptr) << "cannot write " << narrow(path);
    DWORD written = 0;
    WriteFile(file.h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

std::optional<std::string> read_file(const std::wstring& path)
{
    handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.h)
        return std::nullopt;
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content.append(buffer, got);
    return content;
}

bool path_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> wait_for_file(const std::wstring& path, DWORD limit_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        std::optional<std::string> content = read_file(path);
        if (content && !content->empty())
            return content;
        if (GetTickCount() - start > limit_ms)
            return std::nullopt;
        Sleep(50);
    }
}

scoped_folder::scoped_folder(std::wstring path) : path_(std::move(path))
{
    remove_tree(path_);
    make_folders(path_);
}

scoped_folder::~scoped_folder()
{
    remove_tree(path_);
}

sandbox::sandbox()
{
    wchar_t system_drive[8] = L"C:";
    GetEnvironmentVariableW(L"SystemDrive", system_drive, 8);
    root = std::wstring(system_drive) + L"\\ostrilo-e2e\\" + test_name();
    remove_tree(root);
    program_dir = root + L"\\program";
    appdata = root + L"\\appdata";
    program_files = root + L"\\programfiles";
    program_files_x86 = root + L"\\programfiles_x86";
    install_path = root + L"\\installpath";
    temp = root + L"\\tmp";
    cwd = root + L"\\cwd";
    for (const std::wstring* folder : {&program_dir, &appdata, &program_files, &program_files_x86, &install_path,
                                       &temp, &cwd})
        make_folders(*folder);
    if (!CopyFileW((bin_folder() + L"\\Ostrilo.exe").c_str(), exe().c_str(), FALSE))
        ADD_FAILURE() << "cannot copy Ostrilo.exe into the sandbox";
}

sandbox::~sandbox()
{
    // A program started by the run may still hold a file for a moment.
    for (int attempt = 0; attempt < 20 && path_exists(root); ++attempt) {
        remove_tree(root);
        if (path_exists(root))
            Sleep(100);
    }
}

void sandbox::copy_standin(const std::wstring& standin, const std::wstring& target) const
{
    make_folders(target.substr(0, target.find_last_of(L'\\')));
    if (!CopyFileW((bin_folder() + L"\\" + standin + L".exe").c_str(), target.c_str(), FALSE))
        ADD_FAILURE() << "cannot copy stand-in " << narrow(standin) << " to " << narrow(target);
}

void sandbox::unset_env(const std::wstring& name)
{
    overrides_[name] = std::nullopt;
}

void sandbox::set_env(const std::wstring& name, const std::wstring& value)
{
    overrides_[name] = value;
}

run_result sandbox::run(const std::wstring& arguments, DWORD limit_ms) const
{
    std::wstring command_line = L"\"" + exe() + L"\"";
    if (!arguments.empty())
        command_line += L" " + arguments;
    return run_command_line(command_line, limit_ms);
}

run_result sandbox::run_command_line(const std::wstring& command_line, DWORD limit_ms) const
{
    run_result result;

    std::map<std::wstring, std::wstring, name_less> variables;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) {
            std::wstring text = entry;
            std::size_t equals = text.find(L'=', 1);  // "=C:=C:\..." entries start with "="
            if (equals != std::wstring::npos)
                variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
        FreeEnvironmentStringsW(block);
    }
    variables[L"APPDATA"] = appdata;
    variables[L"PROGRAMFILES"] = program_files;
    variables[L"PROGRAMFILES(X86)"] = program_files_x86;
    variables[L"KVIX_INSTALLPATH"] = install_path;
    variables[L"TMP"] = temp;
    variables[L"TEMP"] = temp;
    for (const auto& [name, value] : overrides_) {
        if (value)
            variables[name] = *value;
        else
            variables.erase(name);
    }
    std::wstring environment;
    for (const auto& [name, value] : variables)
        environment += name + L"=" + value + L'\0';
    environment += L'\0';

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    std::wstring out_path = root + L"\\stdout.txt";
    std::wstring err_path = root + L"\\stderr.txt";
    handle out(CreateFileW(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    handle err(CreateFileW(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    handle in(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                          nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    if (standard_handles) {
        startup.hStdInput = in.h;
        startup.hStdOutput = out.h;
        startup.hStdError = err.h;
    }
    PROCESS_INFORMATION process{};
    std::wstring mutable_command_line = command_line;
    if (!CreateProcessW(nullptr, mutable_command_line.data(), nullptr, nullptr, standard_handles,
                        CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), cwd.c_str(), &startup, &process)) {
        ADD_FAILURE() << "cannot start " << narrow(command_line) << ": error " << GetLastError();
        return result;
    }
    handle process_handle(process.hProcess);
    handle thread_handle(process.hThread);

    std::set<HWND> seen;
    enum_state state{process.dwProcessId, &seen, &result.boxes};
    DWORD start = GetTickCount();
    for (;;) {
        DWORD wait = WaitForSingleObject(process.hProcess, 50);
        EnumWindows(collect_box, reinterpret_cast<LPARAM>(&state));
        if (wait == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - start > limit_ms) {
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            result.timed_out = true;
            ADD_FAILURE() << "Ostrilo did not end within " << limit_ms << " ms: " << narrow(command_line);
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &result.exit_code);
    result.out = read_all(out_path);
    result.err = read_all(err_path);
    return result;
}
