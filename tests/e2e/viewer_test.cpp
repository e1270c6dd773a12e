// The hand-off to a running remote viewer as a user meets it: it gets the link
// through its pipe or the clipboard.
#include "sandbox.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

const char remote_rule[] = "remote.example.org/*|remote|firefox|work\n";
const std::wstring standard_pipe = L"\\\\.\\pipe\\feldrun-pipe";

// The clipboard's text, emptied.
std::string take_clipboard()
{
    std::wstring text;
    if (OpenClipboard(nullptr)) {
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT))
            text = static_cast<const wchar_t*>(GlobalLock(data)), GlobalUnlock(data);
        EmptyClipboard();
        CloseClipboard();
    }
    return narrow(text);
}

// A viewer of the user that runs, minimized, before the link is opened, behind
// a windowless one that comes first in the process list and is passed over.
HWND start_viewer(const sandbox& box, std::map<std::wstring, std::wstring> settings)
{
    box.standin(box.root + L"\\windowless\\vncviewer.exe");
    box.start(box.root + L"\\windowless\\vncviewer.exe", {{L"STANDIN_PIPE", L"\\\\.\\pipe\\ostrilo-windowless"}});
    box.standin(box.root + L"\\running\\vncviewer.exe");
    settings.emplace(L"STANDIN_WINDOW", L"Corvane-Pro Viewer");
    box.start(box.root + L"\\running\\vncviewer.exe", settings);
    const HWND window = FindWindowW(L"OstriloStandin", nullptr);
    ShowWindow(window, SW_MINIMIZE);
    for (int i = 0; i < 100 && !IsIconic(window); ++i)
        Sleep(50);
    return window;
}

TEST(Viewer, RunningViewerGetsTheEncodedTextThroughItsPipeOrTheTextAsReceivedOnTheClipboard)
{
    const std::wstring url = L"http://example.org/a b?x=1&y=%41<\u00e4>", remote = L"http://remote.example.org/a b";
    const std::wstring german = L"https://example.com/stra\u00dfe/\u00e4", named = L"\\\\.\\pipe\\ostrilo-named";
    const std::string encoded = "pipe: http://example.org/a+b?x=1&y=%41%3c%c3%a4%3e\0"s, nburl = "clipboard: nburl:";
    const char* acme = "ProductName=Acme Remote\n";
    // Rule, kvix.vnc beside Ostrilo.exe, link, the running viewer's settings
    // ("name" a pipe-name file naming its pipe, "busy" another program holds the
    // standard pipe's only instance); what the running viewer gets, else the viewer that starts.
    // clang-format off
    const std::tuple<const char*, const char*, std::wstring, std::map<std::wstring, std::wstring>, std::string> cases[] = {
        {"", "", url, {{L"STANDIN_PIPE", standard_pipe}}, encoded},
        {"", "", url, {{L"STANDIN_PIPE", named}, {L"name", named}}, encoded},
        {remote_rule, "", remote, {{L"STANDIN_PIPE", standard_pipe}}, "pipe: work|firefox|http://remote.example.org/a+b\0"s},
        {"", "", url, {{L"STANDIN_PIPE", standard_pipe}, {L"STANDIN_WINDOW", L"jo@host:1 (96dpi)"}}, encoded},
        {"", acme, url, {{L"STANDIN_PIPE", standard_pipe}, {L"STANDIN_WINDOW", L"Acme Remote Viewer"}}, encoded},
        {"", "", url, {}, nburl + narrow(url)},
        {"", "", url, {{L"STANDIN_PIPE", named}, {L"name", named + L"\r\n"}}, nburl + narrow(url)},  // a line end: no name
        {remote_rule, "", remote, {}, nburl + "work|firefox|" + narrow(remote)},
        // Another product's name does not count.
        {"", acme, url, {{L"STANDIN_PIPE", standard_pipe}}, "viewer: -initialURL \"http://example.org/a+b?x=1&y=%41%3c%c3%a4%3e\""},
        {"", "", url, {{L"busy", L""}}, nburl + narrow(url)},
        {"*|remote", "", german, {{L"STANDIN_PIPE", standard_pipe}}, "pipe: ||https://example.com/stra%c3%9fe/%c3%a4\0"s},
        {"*|remote", "", german, {}, nburl + "||" + narrow(german)},
    };
    // clang-format on
    for (auto [rule, viewer_settings, link, settings, expected] : cases) {
        sandbox box;
        SCOPED_TRACE(narrow(link) + " " + viewer_settings + " " + std::to_string(settings.size()));
        box.put(L"url whitelist.txt", rule);
        box.put(L"kvix.vnc", viewer_settings);
        box.standin(box.standin_path("viewer"), L"vncviewer_2_1_4");
        if (settings.contains(L"name"))
            write_file(box.temp + L"\\kvixtemp\\feldrun_pipename", narrow(settings[L"name"]));
        take_clipboard();
        const HWND window = start_viewer(box, settings);
        ASSERT_NE(window, nullptr);
        const bool busy = settings.contains(L"busy"), started = expected.starts_with("viewer");
        const HANDLE taken[] = {
            busy ? CreateNamedPipeW(standard_pipe.c_str(), PIPE_ACCESS_DUPLEX, 0, 1, 64, 64, 0, nullptr) : nullptr,
            busy ? CreateFileW(standard_pipe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr};
        const run_result run = box.run(L"-url \"" + link + L"\"");
        for (HANDLE pipe : taken)
            CloseHandle(pipe);
        const std::string pipe = wait_for_file(box.root + L"\\running\\vncviewer.exe.pipe.1", expected[0] == 'p'),
                          clipboard = take_clipboard();
        EXPECT_EQ(box.outcome(run, "\n" + expected) + (pipe.empty() ? "" : "\npipe: " + pipe) +
                      (clipboard.empty() ? "" : "\nclipboard: " + clipboard),
                  "exit 0\n" + expected);
        EXPECT_EQ(IsIconic(window), started) << "the viewer window is brought back";
    }
}

TEST(Viewer, ClipboardHeldByAnotherProgramIsTriedThreeTimesThenTheFatalBoxEndsTheRun)
{
    sandbox box;
    start_viewer(box, {});
    // Held by a window, as by another program: Wine lets two window-less opens
    // of the clipboard stand side by side.
    HWND holder = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(OpenClipboard(holder));
    const run_result run = box.run(L"-url \"http://example.org/held\"");
    CloseClipboard();
    DestroyWindow(holder);
    EXPECT_EQ(box.outcome(run),
              "exit 2\nbox: Feldrun Corvane-Pro Browserweiche Feldrun: Fehler: Ich konnte nichts in die Zwischenablage "
              "kopieren, da ich diese nicht öffnen konnte. Ein anderes Programm blockiert die Zwischenablage und gibt "
              "sie nicht wieder frei. Die Zwischenablage wird aber benötigt, damit ich den Link an den Corvane-Pro "
              "VNC-Viewer weiterreichen kann. Bitte beenden sie das verantwortliche Programm oder sorgen sie "
              "anderweitig dafür, dass es die Zwischenablage frei gibt, und rufen sie danach den Link erneut auf.");
    EXPECT_EQ(run.count("WARN Clipboard did not open, try again."), 2);
    EXPECT_GT(run.find("WARN Clipboard did not open, try again."), run.find("TRACE starting OpenClipboard()"));
}

}  // namespace
