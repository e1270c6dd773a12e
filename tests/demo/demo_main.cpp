// The main job, as a user would see it: opens example links through
// Ostrilo.exe in a sandbox with a small demo setup (a rule file, a stand-in
// Firefox and a stand-in viewer) and shows what happened to each.
#include "sandbox.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const demo_rules =
    "# Demo rules: example.com stays on this desktop in Firefox,\r\n"
    "# the intranet goes to the remote browser with a profile,\r\n"
    "# every other link goes to the remote browser as it is.\r\n"
    "*.example.com/*|local|firefox\r\n"
    "intranet.example/*|remote|chrome|work\r\n";

void show_file(const char* title, const std::wstring& path)
{
    if (std::optional<std::string> content = read_file(path))
        std::printf("  %s:\n    %s\n", title, content->c_str());
}

void end_viewer(const std::wstring& records)
{
    std::optional<std::string> pid = read_file(records + L"\\vncviewer.pid");
    if (!pid)
        return;
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, std::stoul(*pid))) {
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::wstring> links;
    for (int i = 1; i < argc; ++i)
        links.push_back(widen(argv[i]));
    if (links.empty())
        links = {L"https://www.example.com/start", L"https://intranet.example/wiki/Start Seite",
                 L"https://news.example.org/?q=a<b"};

    sandbox demo;
    write_file(demo.program_dir + L"\\url whitelist.txt", demo_rules);
    demo.copy_standin(L"browser_standin", demo.program_dir + L"\\firefox.exe");
    demo.copy_standin(L"vncviewer_2_5_7", demo.program_dir + L"\\vncviewer.exe");
    std::wstring records = demo.root + L"\\viewer-records";
    make_folders(records);
    // What the stand-in viewer does once started: a window titled with the
    // product name, and the named pipe for the links that follow.
    demo.set_env(L"STANDIN_RECORD_DIR", records);
    demo.set_env(L"STANDIN_NAME", L"vncviewer");
    demo.set_env(L"STANDIN_WINDOW", L"1");
    demo.set_env(L"STANDIN_WINDOW_TITLE", L"Corvane-Pro Viewer");
    demo.set_env(L"STANDIN_PIPE", L"\\\\.\\pipe\\feldrun-pipe");

    std::printf("Demo folder: %s\n", narrow(demo.root).c_str());
    std::printf("Rule file %s\\url whitelist.txt:\n%s\n", narrow(demo.program_dir).c_str(), demo_rules);
    int status = 0;
    for (const std::wstring& link : links) {
        std::printf("==> Ostrilo.exe -url \"%s\" -log\n", narrow(link).c_str());
        run_result run = demo.run(L"-url \"" + link + L"\" -log");
        Sleep(500);  // the browser and the viewer run on their own
        std::printf("  exit status: %ld\n", static_cast<long>(run.exit_code));
        for (const message_box& box : run.boxes)
            std::printf("  message box \"%s\": %s\n", narrow(box.title).c_str(), narrow(box.text).c_str());
        std::printf("  decisions in feldrun.log:\n");
        std::optional<std::string> log = read_file(demo.temp + L"\\kvixtemp\\feldrun.log");
        for (const log_record& record : parse_log(log.value_or("")))
            if (record.level != "TRACE")
                std::printf("    %s %-5s %s\n", record.time.c_str(), record.level.c_str(), record.message.c_str());
        status |= run.timed_out ? 1 : 0;
        show_file("Firefox stand-in was started as", demo.program_dir + L"\\firefox.exe.calls.txt");
        DeleteFileW((demo.program_dir + L"\\firefox.exe.calls.txt").c_str());
        show_file("viewer stand-in was started as", records + L"\\vncviewer.cmdline");
        DeleteFileW((records + L"\\vncviewer.cmdline").c_str());
        for (int n = 1; n < 10; ++n) {
            std::wstring message = records + L"\\vncviewer.pipe." + std::to_wstring(n);
            if (std::optional<std::string> bytes = read_file(message)) {
                std::printf("  viewer stand-in got over the pipe (%zu bytes, NUL included):\n    %s\n", bytes->size(),
                            bytes->c_str());
                DeleteFileW(message.c_str());
            }
        }
        std::printf("\n");
    }
    end_viewer(records);
    return status;
}
