// The main job, as a user would see it: opens example links through
// Ostrilo.exe in a sandbox with a small demo setup (a rule file, a stand-in
// Firefox and a stand-in viewer) and shows what happened to each.
#include "sandbox.h"

#include <cstdio>

namespace {

const char* const demo_rules =
    "# Demo rules: example.com stays on this desktop in Firefox,\r\n"
    "# the intranet goes to the remote browser with a profile,\r\n"
    "# every other link goes to the remote browser as it is.\r\n"
    "*.example.com/*|local|firefox\r\n"
    "intranet.example/*|remote|chrome|work\r\n";

// Shows the file's content (what a stand-in recorded) and removes it.
void show(const char* title, const std::wstring& path)
{
    if (std::optional<std::string> content = read_file(path)) {
        std::string text = *content;  // each line indented
        for (std::size_t at = text.find('\n'); at != std::string::npos && at + 1 < text.size();
             at = text.find('\n', at + 5))
            text.insert(at + 1, "    ");
        std::printf("  %s (%zu bytes):\n    %s\n", title, content->size(), text.c_str());
    }
    DeleteFileW(path.c_str());
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
    demo.put(L"url whitelist.txt", demo_rules);
    const std::wstring firefox = demo.program_dir + L"\\firefox.exe", viewer = demo.program_dir + L"\\vncviewer.exe";
    demo.standin(firefox);
    demo.standin(viewer, L"vncviewer_2_2_0");
    // What the stand-in viewer does once started: a window titled with the
    // product name, and the named pipe for the links that follow.
    demo.env[L"STANDIN_FOR"] = L"vncviewer.exe";
    demo.env[L"STANDIN_WINDOW"] = L"Corvane-Pro Viewer";
    demo.env[L"STANDIN_PIPE"] = L"\\\\.\\pipe\\feldrun-pipe";

    std::printf("Demo folder: %s\nRule file url whitelist.txt:\n%s\n", narrow(demo.root).c_str(), demo_rules);
    int status = 0;
    for (const std::wstring& link : links) {
        std::printf("==> Ostrilo.exe -url \"%s\" -log\n", narrow(link).c_str());
        const run_result run = demo.run(L"-url \"" + link + L"\" -log");
        Sleep(500);  // the browser and the viewer run on their own
        std::printf("  exit status: %ld\n", static_cast<long>(run.exit_code));
        for (const message_box& box : run.boxes)
            std::printf("  message box \"%s\": %s\n", narrow(box.title).c_str(), narrow(box.text).c_str());
        std::printf("  decisions in feldrun.log:\n");
        for (const std::string& record : parse_log(read_file(demo.temp + L"\\kvixtemp\\feldrun.log").value_or("")))
            if (!record.starts_with("TRACE"))
                std::printf("    %s\n", record.c_str());
        show("Firefox stand-in was started as (command line, folder)", firefox + L".calls.txt");
        show("viewer stand-in was started as (command line, folder)", viewer + L".calls.txt");
        if (run.out.find("Sent (encoded) URL") != std::string::npos)  // the viewer writes down what it got
            wait_for_file(viewer + L".pipe.1");
        show("viewer stand-in got over the pipe (NUL included)", viewer + L".pipe.1");
        std::printf("\n");
        status |= run.exit_code == 0 ? 0 : 1;
    }
    // The line README names as the sign that the demo worked.
    std::printf("%zu links opened through Ostrilo.exe, %s\n", links.size(),
                status == 0 ? "each with exit status 0" : "not all with exit status 0");
    return status;
}
