#include "sandbox.h"

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cwctype>

namespace {

std::wstring env_value(const wchar_t* name)
{
    wchar_t buffer[32768];
    DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    return std::wstring(buffer, length < 32768 ? length : 0);
}

HANDLE inheritable_file(const std::wstring& path, bool write)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
}

std::wstring window_text(HWND window)
{
    wchar_t text[4096] = L"";
    GetWindowTextW(window, text, 4096);
    return text;
}

struct box_search {
    DWORD process_id;
    std::set<HWND> seen;
    std::vector<message_box>* boxes;
};

// Records each new dialog box of the process and presses OK (again, should
// the first press not have closed it yet).
BOOL CALLBACK collect_box(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<box_search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t class_name[16] = L"";
    GetClassNameW(window, class_name, 16);
    if (owner != search->process_id || !IsWindowVisible(window) || std::wstring(class_name) != L"#32770")
        return TRUE;
    if (search->seen.insert(window).second)
        search->boxes->push_back({window_text(window), window_text(GetDlgItem(window, 0xFFFF))});
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

}  // namespace

std::vector<std::string> parse_log(const std::string& text)
{
    std::vector<std::string> records;
    for (std::size_t start = 0, end; start < text.size(); start = end + 2) {
        end = std::min(text.find("\r\n", start), text.size());
        const std::string line = text.substr(start, end - start);
        const std::size_t level = line.size() > 10 && line[4] == '-' ? 20 : 9;
        const std::size_t message = line.find(": ", level + 6);
        if (message != std::string::npos)
            records.push_back(line.substr(level, line.find(' ', level) - level) + " " + line.substr(message + 2));
    }
    return records;
}

std::vector<std::string> run_result::records() const { return parse_log(err); }
bool run_result::has(std::string_view record) const { return find(record) >= 0; }

int run_result::count(std::string_view record) const
{
    int n = 0;
    for (const std::string& each : records())
        n += each == record;
    return n;
}

int run_result::find(std::string_view record, int from) const
{
    const std::vector<std::string> all = records();
    for (int i = from; i < static_cast<int>(all.size()); ++i)
        if (all[static_cast<std::size_t>(i)] == record)
            return i;
    return -1;
}

std::wstring widen(std::string_view utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
    return wide;
}

std::string narrow(std::wstring_view wide)
{
    std::string text(wide.size() * 3, '\0');
    text.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                                             text.data(), static_cast<int>(text.size()), nullptr, nullptr)));
    return text;
}

std::wstring bin_folder()
{
    wchar_t path[MAX_PATH * 4];
    std::wstring folder(path, GetModuleFileNameW(nullptr, path, MAX_PATH * 4));
    return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring real_program_files() { return env_value(L"ProgramFiles"); }

std::wstring system_folder()
{
    wchar_t folder[MAX_PATH] = L"";
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

void remove_tree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
        const std::wstring name = data.cFileName, child = path + L"\\" + name;
        if (name != L"." && name != L"..")
            remove_tree(child);
    }
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str()) || DeleteFileW(path.c_str());
}

void write_file(const std::wstring& path, std::string_view content)
{
    SHCreateDirectoryExW(nullptr, path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr))
        << "cannot write " << narrow(path);
    CloseHandle(file);
}

std::optional<std::string> read_file(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::string content;
    char buffer[65536];
    for (DWORD got = 0; ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0;)
        content.append(buffer, got);
    CloseHandle(file);
    return content;
}

bool path_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::string> wait_for_file(const std::wstring& path)
{
    for (int tries = 0; tries < 200; ++tries, Sleep(50)) {
        std::optional<std::string> content = read_file(path);
        if (content && !content->empty())
            return content;
    }
    return std::nullopt;
}

std::string calls_of(const std::wstring& standin, bool wait)
{
    const std::wstring file = standin + L".calls.txt";
    return (wait ? wait_for_file(file) : read_file(file)).value_or("");
}

scoped_path::scoped_path(std::wstring folder, bool make) : path(std::move(folder))
{
    remove_tree(path);
    if (make)
        SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
}

scoped_path::~scoped_path() { remove_tree(path); }

sandbox::sandbox()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = widen(info ? std::string(info->test_suite_name()) + "." + info->name() : "demo");
    for (wchar_t& c : name)
        c = std::iswalnum(c) || c == L'.' ? c : L'_';
    root = env_value(L"SystemDrive") + L"\\ostrilo-e2e\\" + name;
    remove_tree(root);
    program_dir = root + L"\\program";
    appdata = root + L"\\appdata";
    program_files_x86 = root + L"\\programfiles_x86";
    install_path = root + L"\\installpath";
    temp = root + L"\\tmp";
    cwd = root + L"\\cwd";
    for (const std::wstring* folder : {&program_dir, &appdata, &program_files_x86, &install_path, &temp, &cwd})
        SHCreateDirectoryExW(nullptr, folder->c_str(), nullptr);
    EXPECT_TRUE(CopyFileW((bin_folder() + L"\\Ostrilo.exe").c_str(), exe().c_str(), FALSE));
}

sandbox::~sandbox()
{
    // A program started by a run may still hold a file for a moment.
    end_programs();
    for (int attempt = 0; attempt < 20 && path_exists(root); ++attempt, Sleep(100))
        remove_tree(root);
}

void sandbox::standin(const std::wstring& target, const std::wstring& standin) const
{
    SHCreateDirectoryExW(nullptr, target.substr(0, target.find_last_of(L'\\')).c_str(), nullptr);
    EXPECT_TRUE(CopyFileW((bin_folder() + L"\\" + standin + L".exe").c_str(), target.c_str(), FALSE))
        << narrow(target);
}

// Every variable of this test program, with the sandbox's folders and the
// test's own settings.
std::wstring sandbox::environment(const std::map<std::wstring, std::wstring>& variables) const
{
    struct name_less {
        bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
    };
    std::map<std::wstring, std::wstring, name_less> all;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) {
        const std::wstring text = entry;
        const std::size_t equals = text.find(L'=', 1);  // "=C:=C:\..." entries start with "="
        all[text.substr(0, equals)] = text.substr(equals + 1);
    }
    FreeEnvironmentStringsW(block);
    all.insert_or_assign(L"APPDATA", appdata);
    all.insert_or_assign(L"PROGRAMFILES(X86)", program_files_x86);
    all.insert_or_assign(L"KVIX_INSTALLPATH", install_path);
    all.insert_or_assign(L"TMP", temp);
    all.insert_or_assign(L"TEMP", temp);
    for (const auto& [name, value] : env)
        value ? void(all.insert_or_assign(name, *value)) : void(all.erase(name));
    for (const auto& [name, value] : variables)
        all.insert_or_assign(name, value);
    std::wstring text;
    for (const auto& [name, value] : all)
        text += name + L"=" + value + L'\0';
    return text + L'\0';
}

run_result sandbox::run_command_line(const std::wstring& command_line) const
{
    run_result result;
    const std::wstring out_path = root + L"\\stdout.txt", err_path = root + L"\\stderr.txt";
    HANDLE out = inheritable_file(out_path, true), err = inheritable_file(err_path, true);
    HANDLE in = inheritable_file(L"NUL", false);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::wstring line = command_line, block = environment({});
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                                        block.data(), cwd.c_str(), &startup, &process);
    for (HANDLE handle : {out, err, in})
        CloseHandle(handle);
    if (!started) {
        ADD_FAILURE() << "cannot start " << narrow(command_line);
        return result;
    }
    box_search search{process.dwProcessId, {}, &result.boxes};
    for (int waited = 0; WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT; ++waited) {
        EnumWindows(collect_box, reinterpret_cast<LPARAM>(&search));
        if (waited == 600) {
            ADD_FAILURE() << "Ostrilo did not end within 30 s: " << narrow(command_line);
            TerminateProcess(process.hProcess, 0xDEAD);
        }
    }
    GetExitCodeProcess(process.hProcess, &result.exit_code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    result.out = read_file(out_path).value_or("");
    result.err = read_file(err_path).value_or("");
    return result;
}

DWORD sandbox::start(const std::wstring& program, const std::map<std::wstring, std::wstring>& variables) const
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring line = L"\"" + program + L"\"", block = environment(variables);
    EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                               block.data(), cwd.c_str(), &startup, &process))
        << narrow(program);
    WaitForInputIdle(process.hProcess, 20000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return process.dwProcessId;
}

void sandbox::end_programs() const
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{sizeof entry};
    for (bool more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                     entry.th32ProcessID);
        wchar_t path[MAX_PATH * 4];
        DWORD size = MAX_PATH * 4;
        if (process && QueryFullProcessImageNameW(process, 0, path, &size) && _wcsnicmp(path, root.c_str(), root.size()) == 0) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
        }
        if (process)
            CloseHandle(process);
    }
    CloseHandle(snapshot);
}

program_aside::program_aside(std::wstring program, const sandbox* standin_from)
    : path(std::move(program)), placed(standin_from != nullptr)
{
    // A run that ended abruptly may have left it aside.
    MoveFileExW((path + L".aside").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    MoveFileW(path.c_str(), (path + L".aside").c_str());
    if (placed)
        standin_from->standin(path);
}

program_aside::~program_aside()
{
    DeleteFileW((path + L".calls.txt").c_str());
    if (placed)
        DeleteFileW(path.c_str());
    MoveFileW((path + L".aside").c_str(), path.c_str());
    // Folders made for the stand-in go again; the first that is not empty stays.
    for (std::wstring folder = path; (folder = folder.substr(0, folder.find_last_of(L'\\'))).size() > 3 &&
                                     RemoveDirectoryW(folder.c_str());)
        ;
}

registry_guard::registry_guard(std::initializer_list<std::pair<HKEY, std::wstring>> saved) : keys(saved)
{
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::wstring backup = L"Software\\OstriloTestBackup\\" + std::to_wstring(i);
        SHDeleteKeyW(HKEY_CURRENT_USER, backup.c_str());
        HKEY from = nullptr, to = nullptr;
        if (RegOpenKeyExW(keys[i].first, keys[i].second.c_str(), 0, KEY_READ, &from) == ERROR_SUCCESS &&
            RegCreateKeyExW(HKEY_CURRENT_USER, backup.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &to,
                            nullptr) == ERROR_SUCCESS)
            RegCopyTreeW(from, nullptr, to);
        RegCloseKey(from);
        RegCloseKey(to);
    }
}

registry_guard::~registry_guard()
{
    for (std::size_t i = keys.size(); i-- > 0;) {
        const std::wstring backup = L"Software\\OstriloTestBackup\\" + std::to_wstring(i);
        SHDeleteKeyW(keys[i].first, keys[i].second.c_str());
        HKEY from = nullptr, to = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, backup.c_str(), 0, KEY_READ, &from) == ERROR_SUCCESS &&
            RegCreateKeyExW(keys[i].first, keys[i].second.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &to,
                            nullptr) == ERROR_SUCCESS)
            RegCopyTreeW(from, nullptr, to);
        RegCloseKey(from);
        RegCloseKey(to);
        SHDeleteKeyW(HKEY_CURRENT_USER, backup.c_str());
    }
}

void registry_dump(HKEY root, const std::wstring& path, std::set<std::string>& lines)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    lines.insert(narrow(path));
    wchar_t name[16384];
    BYTE data[65536];
    for (DWORD index = 0, name_length = 16384, size = sizeof data, type = 0;
         RegEnumValueW(key, index, name, &name_length, nullptr, &type, data, &size) == ERROR_SUCCESS;
         ++index, name_length = 16384, size = sizeof data) {
        const std::wstring text(reinterpret_cast<const wchar_t*>(data), size / 2);
        const bool plain = type == REG_SZ && size >= 2 && text.find(L'\0') == text.size() - 1;
        lines.insert(narrow(path) + " [" + narrow(std::wstring(name, name_length)) + "]=" +
                     narrow(plain ? text.substr(0, text.size() - 1) : text) +
                     (plain ? "" : " (type " + std::to_string(type) + ", " + std::to_string(size) + " bytes)"));
    }
    for (DWORD index = 0, name_length = 16384; RegEnumKeyExW(key, index, name, &name_length, nullptr, nullptr, nullptr,
                                                             nullptr) == ERROR_SUCCESS;
         ++index, name_length = 16384)
        registry_dump(root, path + L"\\" + std::wstring(name, name_length), lines);
    RegCloseKey(key);
}

void write_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text)
{
    RegSetKeyValueW(root, path.c_str(), name.empty() ? nullptr : name.c_str(), REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}
