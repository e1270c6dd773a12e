// Starts programs as the shell starts a browser for a clicked link (no console,
// no standard handles) and times each whole run, start to exit.
//
// Usage: bench_launch.exe RUNS CASE_FILE
// Every line of CASE_FILE is one of (fields separated by tabs):
//   background  FOLDER  COMMAND_LINE  NAME=VALUE;NAME=VALUE...
//       started once before the runs, with these variables added to its
//       environment, and ended after them (e.g. a running viewer);
//   case  NAME  HANDLES  FOLDER  COMMAND_LINE  [NAME=VALUE;...  [ACTION|ACTION...]]
//       one measured run; HANDLES is "none" or "stderr:PATH" (standard error
//       goes to that file, created afresh for every run). The variables are
//       set for this case's runs only. The actions, each untimed:
//       flip:OFFSET:PATH changes the lowest bit of the byte at OFFSET of the
//       file before every run, so that each run finds the file changed;
//       policy:PATH writes Ostrilo's policy values of the file (lines
//       "HKLM|HKCU<TAB>name<TAB>REG_SZ|REG_EXPAND_SZ|REG_DWORD<TAB>data")
//       before every run and removes them after it, so that the other cases
//       run without them; age:PATH sets the file's last-write time an hour
//       back (in whole seconds) before every run; started:PATH removes the
//       file before every run and, after it, takes the time from the start
//       to its last write (a stand-in's calls file: when the browser started).
// Each run's own children (the stand-in browser a run starts) have ended
// before the next run starts, so that no run pays for the one before.
// One unmeasured round comes first; then RUNS rounds, the cases interleaved.
// Each run prints "NAME<TAB>milliseconds<TAB>exit status", and with started:
// "<TAB>milliseconds to the file's write". A last round, not
// timed, samples every case's working set while it runs (Wine reports none
// once a process has ended) and prints "peak<TAB>NAME<TAB>KiB".
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct bench_case {
    std::string name;
    std::string handles;
    std::string folder;
    std::string command_line;
    std::string environment;
    std::string flip = {};
    std::string policy = {};
    std::string age = {};
    std::string started = {};
};

struct background_program {
    std::string folder;
    std::string command_line;
    std::string environment;
};

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);)
        parts.push_back(part);
    return parts;
}

// Sets the variables; gives the settings that put the old values back.
std::string set_environment(const std::string& environment)
{
    std::string old;
    for (const std::string& setting : split(environment, ';')) {
        std::size_t equals = setting.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = setting.substr(0, equals);
        char value[32768] = "";
        GetEnvironmentVariableA(name.c_str(), value, sizeof value);
        old += name + "=" + value + ";";
        SetEnvironmentVariableA(name.c_str(), setting.substr(equals + 1).c_str());
    }
    return old;
}

void flip_byte(const std::string& flip)
{
    const std::size_t colon = flip.find(':', 5);
    std::fstream file(flip.substr(colon + 1), std::ios::in | std::ios::out | std::ios::binary);
    const std::streamoff offset = std::atol(flip.substr(5, colon - 5).c_str());
    char byte = 0;
    file.seekg(offset).get(byte);
    file.seekp(offset).put(static_cast<char>(byte ^ 1));
}

std::uint64_t ticks(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void age_file(const std::string& path)
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t old = (ticks(now) / 10000000 - 3600) * 10000000;
    const FILETIME time{static_cast<DWORD>(old), static_cast<DWORD>(old >> 32)};
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

const wchar_t policy_vendor_key[] = L"Software\\Policies\\Corvane-Pro";

void write_policy(const std::string& path)
{
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        const std::vector<std::string> fields = split(line, '\t');
        if (fields.size() != 4)
            continue;
        const HKEY root = fields[0] == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        const std::wstring name(fields[1].begin(), fields[1].end()),
            key = std::wstring(policy_vendor_key) + L"\\Ostrilo";
        if (fields[2] == "REG_DWORD") {
            const DWORD number = std::strtoul(fields[3].c_str(), nullptr, 10);
            RegSetKeyValueW(root, key.c_str(), name.c_str(), REG_DWORD, &number, sizeof number);
            continue;
        }
        wchar_t data[4096] = {};
        const int length = MultiByteToWideChar(CP_UTF8, 0, fields[3].c_str(), -1, data, 4096);
        RegSetKeyValueW(root, key.c_str(), name.c_str(), fields[2] == "REG_EXPAND_SZ" ? REG_EXPAND_SZ : REG_SZ, data,
                        static_cast<DWORD>(length * sizeof(wchar_t)));
    }
}

void remove_policy()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, policy_vendor_key);
    RegDeleteTreeW(HKEY_CURRENT_USER, policy_vendor_key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, policy_vendor_key);
    RegDeleteKeyW(HKEY_CURRENT_USER, policy_vendor_key);
}

HANDLE start_background(const background_program& program)
{
    set_environment(program.environment);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string command_line = program.command_line;
    if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        program.folder.c_str(), &startup, &process)) {
        std::fprintf(stderr, "cannot start %s (error %lu)\n", program.command_line.c_str(), GetLastError());
        return nullptr;
    }
    WaitForInputIdle(process.hProcess, 20000);
    CloseHandle(process.hThread);
    return process.hProcess;
}

// One run: start to exit in milliseconds and the exit status; when sampling,
// the peak working set instead of a fair time.
bool run_once(const bench_case& c, bool sample, double& milliseconds, SIZE_T& peak, DWORD& status, double& started_ms)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    HANDLE err = nullptr;
    if (c.handles.rfind("stderr:", 0) == 0) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        err = CreateFileA(c.handles.substr(7).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (err == INVALID_HANDLE_VALUE)
            return false;
        startup.hStdError = err;
    }
    std::string command_line = c.command_line;
    if (!c.flip.empty())
        flip_byte(c.flip);
    if (!c.policy.empty())
        write_policy(c.policy);
    if (!c.age.empty())
        age_file(c.age);
    if (!c.started.empty())
        DeleteFileA(c.started.c_str());
    const std::string before = set_environment(c.environment);
    FILETIME start_time{};
    GetSystemTimeAsFileTime(&start_time);
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    // The job holds the run and every process it starts.
    static HANDLE job = CreateJobObjectA(nullptr, nullptr);
    BOOL started = CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, err != nullptr,
                                  DETACHED_PROCESS | CREATE_SUSPENDED, nullptr, c.folder.c_str(), &startup, &process);
    if (started) {
        AssignProcessToJobObject(job, process.hProcess);
        ResumeThread(process.hThread);
    }
    set_environment(before);
    while (started && WaitForSingleObject(process.hProcess, sample ? 5 : INFINITE) == WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS memory{};
        if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory) && memory.PeakWorkingSetSize > peak)
            peak = memory.PeakWorkingSetSize;
    }
    QueryPerformanceCounter(&end);
    if (err)
        CloseHandle(err);
    if (!started) {
        std::fprintf(stderr, "cannot start %s (error %lu)\n", c.command_line.c_str(), GetLastError());
        return false;
    }
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory) && memory.PeakWorkingSetSize > peak)
        peak = memory.PeakWorkingSetSize;
    for (int wait = 0; wait < 1000; ++wait) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                       nullptr) ||
            accounting.ActiveProcesses == 0)
            break;
        Sleep(5);
    }
    if (!c.policy.empty())
        remove_policy();
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    milliseconds =
        1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    WIN32_FILE_ATTRIBUTE_DATA written{};
    started_ms = !c.started.empty() && GetFileAttributesExA(c.started.c_str(), GetFileExInfoStandard, &written)
                     ? static_cast<double>(ticks(written.ftLastWriteTime) - ticks(start_time)) / 10000.0
                     : -1;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_launch RUNS CASE_FILE\n");
        return 2;
    }
    int runs = std::atoi(argv[1]);
    std::ifstream file(argv[2]);
    std::vector<bench_case> cases;
    std::vector<background_program> programs;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields = split(line, '\t');
        if (fields.size() >= 5 && fields[0] == "case") {
            bench_case c{fields[1], fields[2], fields[3], fields[4], fields.size() > 5 ? fields[5] : ""};
            for (const std::string& action : split(fields.size() > 6 ? fields[6] : "", '|')) {
                const std::string kind = action.substr(0, action.find(':'));
                (kind == "flip"     ? c.flip
                 : kind == "policy" ? c.policy
                 : kind == "age"    ? c.age
                                    : c.started) = kind == "flip" ? action : action.substr(kind.size() + 1);
            }
            cases.push_back(c);
        } else if (fields.size() >= 3 && fields[0] == "background")
            programs.push_back({fields[1], fields[2], fields.size() > 3 ? fields[3] : ""});
    }
    // A run that ended abruptly may have left policy values behind.
    remove_policy();
    std::vector<HANDLE> started;
    for (const background_program& program : programs)
        if (HANDLE process = start_background(program))
            started.push_back(process);
    int failures = 0;
    for (int round = 0; round <= runs + 1; ++round) {
        bool sample = round == runs + 1;
        for (const bench_case& c : cases) {
            double milliseconds = 0, started_ms = -1;
            SIZE_T peak = 0;
            DWORD status = 0;
            if (!run_once(c, sample, milliseconds, peak, status, started_ms)) {
                ++failures;
                continue;
            }
            if (sample)
                std::printf("peak\t%s\t%zu\n", c.name.c_str(), static_cast<std::size_t>(peak / 1024));
            else if (round > 0 && started_ms >= 0)
                std::printf("%s\t%.1f\t%ld\t%.1f\n", c.name.c_str(), milliseconds, static_cast<long>(status),
                            started_ms);
            else if (round > 0)
                std::printf("%s\t%.1f\t%ld\n", c.name.c_str(), milliseconds, static_cast<long>(status));
            std::fflush(stdout);
        }
    }
    for (HANDLE process : started) {
        TerminateProcess(process, 0);
        CloseHandle(process);
    }
    return failures == 0 ? 0 : 1;
}
