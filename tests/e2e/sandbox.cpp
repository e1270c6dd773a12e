#include "sandbox.h"

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::wstring env_value(const wchar_t* name)
{
    wchar_t buffer[32768];
    return std::wstring(buffer, GetEnvironmentVariableW(name, buffer, 32768));
}

std::wstring window_text(HWND window)
{
    wchar_t text[4096] = L"";
    GetWindowTextW(window, text, 4096);
    return text;
}

// Starts a program with the sandbox's settings and these variables in its
// environment, set in this program's own for the moment of the start.
bool create(const sandbox& box, std::wstring line, const std::map<std::wstring, std::wstring>& variables,
            STARTUPINFOW& startup, PROCESS_INFORMATION& process)
{
    std::map<std::wstring, std::optional<std::wstring>> all = box.env, before;
    for (const auto& [name, value] : variables)
        all[name] = value;
    for (const auto& [name, value] : all) {
        before[name] = env_value(name.c_str());
        SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    }
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, startup.dwFlags != 0,
                                        CREATE_UNICODE_ENVIRONMENT, nullptr, box.cwd.c_str(), &startup, &process);
    for (const auto& [name, value] : before)
        SetEnvironmentVariableW(name.c_str(), value->empty() ? nullptr : value->c_str());
    return started;
}

}  // namespace

std::vector<std::string> parse_log(const std::string& text)
{
    std::vector<std::string> records;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t level = line.size() > 10 && line[4] == '-' ? 20 : 9, message = line.find(": ", level + 6);
        if (message != std::string::npos)
            records.push_back(line.substr(level, line.find(' ', level) - level) + " " +
                              line.substr(message + 2, line.size() - message - 2 - line.ends_with('\r')));
    }
    return records;
}

int run_result::count(const std::string& record) const
{
    const std::vector<std::string> all = records();
    return static_cast<int>(std::count(all.begin(), all.end(), record));
}

int run_result::find(const std::string& record) const
{
    const std::vector<std::string> all = records();
    const auto found = std::find(all.begin(), all.end(), record);
    return found == all.end() ? -1 : static_cast<int>(found - all.begin());
}

std::string run_result::events() const
{
    const std::map<std::string, std::string> levels = {
        {"0x0001", "error"}, {"0x0002", "warning"}, {"0x0004", "information"}};
    std::string text, separator;
    int sources = 0, events = 0;
    std::istringstream lines(wine);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t report = line.find(":advapi:ReportEventW ("),
                          string = line.find(":eventlog:ReportEventW L\"");
        sources += line.find(":advapi:RegisterEventSourceW (") != std::string::npos;
        if (report != std::string::npos) {  // (handle,type,category,ID,...
            std::istringstream fields(line.substr(report + 22));
            std::string field[4];
            for (std::string& f : field)
                std::getline(fields, f, ',');
            text += "\nevent " + levels.at(field[1]) + " " + std::to_string(std::stoul(field[3], nullptr, 16)) + ":";
            separator = " ", ++events;
        } else if (string != std::string::npos) {
            std::wstring decoded;
            std::size_t at = string + 25;
            for (; at < line.size() && line[at] != '"'; ++at)
                if (line[at] != '\\')
                    decoded += static_cast<unsigned char>(line[at]);
                else if (const char c = line[++at]; c == 'n' || c == 'r' || c == 't')
                    decoded += c == 'n' ? L'\n' : c == 'r' ? L'\r' : L'\t';
                else if (std::isxdigit(static_cast<unsigned char>(c)))
                    decoded += static_cast<wchar_t>(std::stoul(line.substr(at, 4), nullptr, 16)), at += 3;
                else
                    decoded += static_cast<unsigned char>(c);
            text += separator + narrow(decoded.substr(0, decoded.find(L"\n\nSystemfehlercode"))) +
                    (line.compare(at, 4, "\"...") == 0 ? "..." : "");
            separator = " | ";
        }
    }
    return text + (sources == (events > 0) ? "" : "\nevent source registered " + std::to_string(sources) + " times");
}

std::wstring widen(const std::string& utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    return wide;
}

std::string narrow(const std::wstring& wide)
{
    std::string text(wide.size() * 3, '\0');
    text.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                                    static_cast<int>(text.size()), nullptr, nullptr));
    return text;
}

std::wstring bin_folder()
{
    wchar_t path[MAX_PATH * 4];
    return std::filesystem::path(std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH * 4))).parent_path();
}

std::wstring real_program_files()
{
    return env_value(L"ProgramFiles");
}

std::wstring system_folder()
{
    wchar_t folder[MAX_PATH] = L"";
    return std::wstring(folder, GetSystemDirectoryW(folder, MAX_PATH));
}

void remove_tree(const std::wstring& path)
{
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

void write_file(const std::wstring& path, const std::string& content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    EXPECT_TRUE(std::ofstream(std::filesystem::path(path), std::ios::binary) << content) << narrow(path);
}

std::optional<std::string> read_file(const std::wstring& path)
{
    std::ifstream file{std::filesystem::path(path), std::ios::binary};
    return file ? std::optional(std::string(std::istreambuf_iterator<char>(file), {})) : std::nullopt;
}

bool path_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string wait_for_file(const std::wstring& path, bool wait)
{
    for (int tries = wait ? 200 : 1; tries-- > 0; Sleep(50))
        if (std::optional<std::string> content = read_file(path); content && !content->empty())
            return *content;
    return "";
}

scoped_path::scoped_path(std::wstring made, bool folder) : path(std::move(made))
{
    remove_tree(path);
    if (folder)
        std::filesystem::create_directories(path);
}

sandbox::sandbox()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = widen(info ? std::string(info->test_suite_name()) + "." + info->name() : "demo");
    std::replace_if(
        name.begin(), name.end(), [](wchar_t c) { return !std::iswalnum(c) && c != L'.'; }, L'_');
    root = env_value(L"SystemDrive") + L"\\ostrilo-e2e\\" + name;
    remove_tree(root);
    program_dir = root + L"\\program";
    appdata = env[L"APPDATA"].emplace(root + L"\\appdata");
    localappdata = env[L"LOCALAPPDATA"].emplace(root + L"\\localappdata");
    program_files_x86 = env[L"PROGRAMFILES(X86)"].emplace(root + L"\\programfiles_x86");
    install_path = env[L"KVIX_INSTALLPATH"].emplace(root + L"\\installpath");
    temp = env[L"TMP"].emplace(root + L"\\tmp");
    env[L"TEMP"] = temp;
    cwd = root + L"\\cwd";
    for (const std::wstring* folder : {&appdata, &localappdata, &program_files_x86, &install_path, &temp, &cwd})
        std::filesystem::create_directories(*folder);
    standin(exe(), L"Ostrilo");
}

sandbox::~sandbox()
{
    // Every program started from the tree ends; one may still hold a file for a moment.
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (bool more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
        wchar_t path[MAX_PATH * 4];
        DWORD size = MAX_PATH * 4;
        if (process && QueryFullProcessImageNameW(process, 0, path, &size) &&
            _wcsnicmp(path, root.c_str(), root.size()) == 0) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    for (int attempt = 0; attempt < 20 && path_exists(root); ++attempt, Sleep(100))
        remove_tree(root);
}

void sandbox::standin(const std::wstring& target, const std::wstring& standin) const
{
    std::filesystem::create_directories(std::filesystem::path(target).parent_path());
    EXPECT_TRUE(CopyFileW((bin_folder() + L"\\" + standin + L".exe").c_str(), target.c_str(), FALSE)) << narrow(target);
}

run_result sandbox::run_command_line(const std::wstring& command_line, int seconds) const
{
    run_result result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    // Named after the thread, so that runs from several threads at once keep their output apart.
    const std::wstring thread = std::to_wstring(GetCurrentThreadId());
    const std::wstring files[] = {L"NUL", root + L"\\stdout." + thread + L".txt",
                                  root + L"\\stderr." + thread + L".txt"};
    HANDLE handles[3];
    for (int i = 0; i < 3; ++i)
        handles[i] = CreateFileW(files[i].c_str(), i ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherit, i ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = standard_handles ? STARTF_USESTDHANDLES : 0;
    startup.hStdInput = handles[0];
    startup.hStdOutput = handles[1];
    startup.hStdError = handles[2];
    // Wine's output goes to the file the test's own standard error is; each line begins with its thread's id.
    std::wstring wine_file = env_value(L"OSTRILO_WINE_STDERR");
    std::replace(wine_file.begin(), wine_file.end(), L'/', L'\\');
    wine_file = wine_file.empty() ? L"" : L"Z:" + wine_file;
    const std::size_t wine_from = read_file(wine_file).value_or("").size();
    PROCESS_INFORMATION process{};
    const bool started = create(*this, command_line, {}, startup, process);
    for (HANDLE handle : handles)
        CloseHandle(handle);
    if (!started) {
        ADD_FAILURE() << "cannot start " << narrow(command_line);
        return result;
    }
    // Records each new message box of the process and presses OK (again, should
    // the first press not have closed it yet).
    std::set<HWND> seen;
    for (int waited = 0; WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT; ++waited) {
        for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", nullptr));) {
            DWORD owner = 0;
            GetWindowThreadProcessId(box, &owner);
            if (owner != process.dwProcessId || !IsWindowVisible(box))
                continue;
            if (seen.insert(box).second)
                result.boxes.push_back({window_text(box), window_text(GetDlgItem(box, 0xFFFF))});
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        if (waited == seconds * 20) {
            ADD_FAILURE() << "no end within " << seconds << " s: " << narrow(command_line);
            TerminateProcess(process.hProcess, 0xDEAD);
        }
    }
    GetExitCodeProcess(process.hProcess, &result.exit_code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    result.out = read_file(files[1]).value_or("");
    result.err = read_file(files[2]).value_or("");
    std::istringstream wine(read_file(wine_file).value_or("").substr(wine_from));
    char wine_thread[16];
    std::snprintf(wine_thread, sizeof wine_thread, "%04lx:", process.dwThreadId);
    for (std::string line; std::getline(wine, line);)
        result.wine += line.starts_with(wine_thread) ? line + "\n" : "";
    return result;
}

DWORD sandbox::start(const std::wstring& program, const std::map<std::wstring, std::wstring>& variables) const
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(create(*this, L"\"" + program + L"\"", variables, startup, process)) << narrow(program);
    WaitForInputIdle(process.hProcess, 20000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return process.dwProcessId;
}

std::wstring sandbox::standin_path(const std::string& name) const
{
    const std::map<std::string, std::wstring> paths = {{"browser", root + L"\\b\\browser.exe"},
                                                       {"default", root + L"\\b\\default.exe"},
                                                       {"selector", install_path + L"\\viewer_selector.exe"},
                                                       {"viewer", program_dir + L"\\vncviewer.exe"}};
    return paths.contains(name) ? paths.at(name) : program_dir + L"\\" + widen(name) + L".exe";
}

std::string sandbox::outcome(const run_result& run, const std::string& expected) const
{
    std::string text = "exit " + std::to_string(static_cast<int>(run.exit_code));
    for (const message_box& box : run.boxes)
        text += "\nbox: " + narrow(box.title + L": " + box.text.substr(0, box.text.find(L"\n\nSystemfehlercode")));
    for (const std::string name : standin_names)
        if (std::string calls = calls_of(standin_path(name), expected.find("\n" + name + ": ") != std::string::npos);
            !calls.empty())
            text += "\n" + name + ": " + parameters_of(calls);
    static const std::set<std::string> levels = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR"};
    std::vector<std::string> lines;
    std::istringstream stream(expected);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    for (const std::string& line : lines) {
        const std::string record = line.substr(line.starts_with('!'));
        const int listed = static_cast<int>(std::count(lines.begin(), lines.end(), line));
        if (record.starts_with("out: "))  // standard output holds it
            text += run.out.find(record.substr(5)) != std::string::npos ? "\n" + line : "\n(not written) " + line;
        else if (levels.contains(record.substr(0, record.find(' '))))
            text += (line == record ? run.count(record) == listed : !run.has(record)) ? "\n" + line
                                                                                      : "\n(not as listed) " + line;
    }
    return text + run.events();
}

program_aside::program_aside(std::wstring program, const sandbox* standin_from) : path(std::move(program))
{
    // A run that ended abruptly may have left it aside.
    MoveFileExW((path + L".aside").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    MoveFileW(path.c_str(), (path + L".aside").c_str());
    if (standin_from)
        standin_from->standin(path);
}

program_aside::~program_aside()
{
    DeleteFileW((path + L".calls.txt").c_str());
    DeleteFileW(path.c_str());
    MoveFileW((path + L".aside").c_str(), path.c_str());
    // Folders made for the stand-in go again; the first that is not empty stays.
    for (std::wstring folder = path;
         (folder = folder.substr(0, folder.find_last_of(L'\\'))).size() > 3 && RemoveDirectoryW(folder.c_str());)
        ;
}

void registry_dump(HKEY root, const std::wstring& path, std::set<std::string>& lines)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    lines.insert(narrow(path));
    wchar_t name[16384];
    BYTE data[65536];
    for (DWORD index = 0, length = 16384, size = sizeof data, type = 0;
         RegEnumValueW(key, index, name, &length, nullptr, &type, data, &size) == ERROR_SUCCESS;
         ++index, length = 16384, size = sizeof data) {
        const std::wstring text(reinterpret_cast<const wchar_t*>(data), size / 2);
        const bool plain = type == REG_SZ && size >= 2 && text.find(L'\0') == text.size() - 1;
        lines.insert(narrow(path) + " [" + narrow(std::wstring(name, length)) +
                     "]=" + narrow(plain ? text.substr(0, text.size() - 1) : text) +
                     (plain ? "" : " (type " + std::to_string(type) + ", " + std::to_string(size) + " bytes)"));
    }
    for (DWORD index = 0, length = 16384;
         RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = 16384)
        registry_dump(root, path + L"\\" + std::wstring(name, length), lines);
    RegCloseKey(key);
}

void write_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text)
{
    RegSetKeyValueW(root, path.c_str(), name.empty() ? nullptr : name.c_str(), REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void write_policies(const std::vector<policy_entry>& values)
{
    const std::wstring key = L"Software\\Policies\\Corvane-Pro";
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        SHDeleteKeyW(root, key.c_str());
    for (const policy_entry& value : values) {
        const DWORD number = std::wcstoul(value.data.c_str(), nullptr, 10);
        RegSetKeyValueW(
            value.root, (key + L"\\Ostrilo").c_str(), value.name.c_str(), value.type,
            value.type == REG_DWORD ? static_cast<const void*>(&number) : value.data.c_str(),
            value.type == REG_DWORD ? sizeof number : static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
    }
}

// clang-format off
const std::vector<std::string> registration_tops = {
    "Software\\Classes\\NB.HTML", "Software\\Classes\\NB.HTTP", "Software\\Classes\\NB.HTTPS",
    "Software\\Classes\\http", "Software\\Classes\\https", "Software\\Classes\\.html",
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ostrilo.exe",
    "Software\\Clients\\StartMenuInternet", "Software\\RegisteredApplications",
    "Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "Software\\Ostrilo"};
// clang-format on

static void clear_registration()
{
    for (const std::string& top : registration_tops)
        SHDeleteKeyW(HKEY_CURRENT_USER, widen(top).c_str());
    SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Ostrilo.exe");
}

clean_registry::clean_registry(const wchar_t* windows_version)
{
    clear_registration();
    write_string(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Ostrilo.exe", L"Version", windows_version);
}

clean_registry::~clean_registry()
{
    clear_registration();
}
