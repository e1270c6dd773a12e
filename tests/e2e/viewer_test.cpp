// The hand-off to the remote viewer as a user meets it: a running viewer gets
// the link through its pipe or the clipboard; else the viewer (from version
// 2.1.4 on) or its selector is started with it; else a box says so.
#include "sandbox.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

const char remote_rule[] = "remote.example.org/*|remote|firefox|work\n";

// The clipboard's text, emptied.
std::optional<std::wstring> take_clipboard()
{
    std::optional<std::wstring> text;
    if (OpenClipboard(nullptr)) {
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT))
            text = static_cast<const wchar_t*>(GlobalLock(data)), GlobalUnlock(data);
        EmptyClipboard();
        CloseClipboard();
    }
    return text;
}

std::string user_record(bool running)
{
    char user[257] = {};
    DWORD size = sizeof user;
    GetUserNameA(user, &size);
    return "DEBUG vncviewer.exe is " + std::string(running ? "" : "not ") + "running for user '" + user + "'";
}

HWND window_of(DWORD process_id)
{
    DWORD owner = 0;
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"OstriloStandin", nullptr)) &&
           (GetWindowThreadProcessId(window, &owner), owner != process_id))
        ;
    return window;
}

// A viewer of the user that runs, minimized, before the link is opened, behind
// a windowless one that comes first in the process list and is passed over.
std::pair<DWORD, HWND> start_viewer(const sandbox& box, std::map<std::wstring, std::wstring> settings)
{
    box.standin(box.root + L"\\windowless\\vncviewer.exe");
    box.start(box.root + L"\\windowless\\vncviewer.exe", {{L"STANDIN_PIPE", L"\\\\.\\pipe\\ostrilo-windowless"}});
    box.standin(box.root + L"\\running\\vncviewer.exe");
    settings.emplace(L"STANDIN_WINDOW", L"Corvane-Pro Viewer");
    const DWORD id = box.start(box.root + L"\\running\\vncviewer.exe", settings);
    ShowWindow(window_of(id), SW_MINIMIZE);
    for (int i = 0; i < 100 && !IsIconic(window_of(id)); ++i)
        Sleep(50);
    return {id, window_of(id)};
}

TEST(Viewer, RunningViewerGetsTheEncodedTextThroughItsPipeOrTheTextAsReceivedOnTheClipboard)
{
    const std::wstring url = L"http://example.org/a b?x=1&y=%41<\u00e4>", remote = L"http://remote.example.org/a b";
    const std::wstring german = L"https://example.com/stra\u00dfe/\u00e4";
    const std::string encoded = "http://example.org/a+b?x=1&y=%41%3c%c3%a4%3e\0"s;
    const std::wstring pipe = L"STANDIN_PIPE", standard = L"\\\\.\\pipe\\feldrun-pipe",
                       publish = L"STANDIN_PUBLISH_PIPE_NAME";
    const char* acme = "ProductName=Acme Remote\n";
    // Rule, kvix.vnc beside Ostrilo.exe, link, the running viewer's settings;
    // the bytes its pipe receives, else the clipboard, else (both empty) a new viewer is started.
    const std::tuple<const char*, const char*, std::wstring, std::map<std::wstring, std::wstring>, std::string,
                     std::wstring>
        cases[] = {
            {nullptr, nullptr, url, {{pipe, standard}}, encoded, L""},
            {nullptr, nullptr, url, {{pipe, L"\\\\.\\pipe\\ostrilo-named"}, {publish, L"1"}}, encoded, L""},
            {remote_rule, nullptr, remote, {{pipe, standard}}, "work|firefox|http://remote.example.org/a+b\0"s, L""},
            {nullptr, nullptr, url, {{pipe, standard}, {L"STANDIN_WINDOW", L"jo@host:1 (96dpi)"}}, encoded, L""},
            {nullptr, acme, url, {{pipe, standard}, {L"STANDIN_WINDOW", L"Acme Remote Viewer"}}, encoded, L""},
            {nullptr, nullptr, url, {}, "", L"nburl:" + url},
            // A pipe-name file whose line ends in a line break names no pipe.
            {nullptr,
             nullptr,
             url,
             {{pipe, L"\\\\.\\pipe\\ostrilo-line-end"}, {publish, L"line_end"}},
             "",
             L"nburl:" + url},
            {remote_rule, nullptr, remote, {}, "", L"nburl:work|firefox|" + remote},
            {nullptr, acme, url, {{pipe, standard}}, "", L""},                // another product's name does not count
            {nullptr, nullptr, url, {{L"BUSY", L"1"}}, "", L"nburl:" + url},  // the test takes the standard pipe's only
                                                                              // instance
            {"*|remote", nullptr, german, {{pipe, standard}}, "||https://example.com/stra%c3%9fe/%c3%a4\0"s, L""},
            {"*|remote", nullptr, german, {}, "", L"nburl:||" + german},
        };
    for (const auto& [rule, viewer_settings, link, settings, message, clipboard] : cases) {
        sandbox box;
        SCOPED_TRACE(narrow(link) + (viewer_settings ? " with kvix.vnc" : "") + " " + std::to_string(settings.size()));
        box.put(L"url whitelist.txt", rule ? rule : "");
        box.put(L"kvix.vnc", viewer_settings ? viewer_settings : "");
        box.standin(box.program_dir + L"\\vncviewer.exe", L"vncviewer_2_1_4");
        take_clipboard();
        const auto [viewer, window] = start_viewer(box, settings);
        ASSERT_NE(window, nullptr);

        const bool busy = settings.contains(L"BUSY");
        const HANDLE taken[] = {
            busy ? CreateNamedPipeW(standard.c_str(), PIPE_ACCESS_DUPLEX, 0, 1, 64, 64, 0, nullptr) : nullptr,
            busy ? CreateFileW(standard.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr};
        EXPECT_EQ(busy, taken[1] && taken[1] != INVALID_HANDLE_VALUE);
        const run_result run = box.run(L"-url \"" + link + L"\"");
        for (HANDLE pipe : taken)
            if (pipe && pipe != INVALID_HANDLE_VALUE)
                CloseHandle(pipe);

        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.boxes.empty());
        const bool started = message.empty() && clipboard.empty();
        EXPECT_EQ(calls_of(box.program_dir + L"\\vncviewer.exe", started) != "", started);
        EXPECT_EQ(run.has(user_record(true) + " (process id: " + std::to_string(viewer) + ")"), !started) << run.err;
        EXPECT_EQ(IsIconic(window), started) << "the viewer window is brought back";
        EXPECT_EQ(wait_for_file(box.root + L"\\running\\vncviewer.exe.pipe.1", !message.empty()), message);
        // Printed last, without a line end.
        EXPECT_EQ(run.out.ends_with("Sent (encoded) URL: '" + message.substr(0, message.size() - 1) + "'"),
                  !message.empty());
        EXPECT_EQ(run.has("WARN I couldn't write the url to the pipe. Probably the viewer is older than 2.1.4 or it is "
                          "not running with 'multi'. I am going to use the clipboard instead."),
                  !clipboard.empty());
        EXPECT_EQ(take_clipboard(), clipboard.empty() ? std::nullopt : std::optional(clipboard));
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
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].title, L"Feldrun Corvane-Pro Browserweiche Feldrun: Fehler");
    // The box may add the runtime's last error number behind the message.
    EXPECT_TRUE(run.boxes[0].text.starts_with(
        L"Ich konnte nichts in die Zwischenablage kopieren, da ich diese nicht öffnen konnte. Ein anderes Programm "
        L"blockiert die Zwischenablage und gibt sie nicht wieder frei. Die Zwischenablage wird aber benötigt, damit "
        L"ich den Link an den Corvane-Pro VNC-Viewer weiterreichen kann. Bitte beenden sie das verantwortliche "
        L"Programm oder sorgen sie anderweitig dafür, dass es die Zwischenablage frei gibt, und rufen sie danach den "
        L"Link erneut auf."))
        << narrow(run.boxes[0].text);
    EXPECT_NE(run.exit_code, 0u);
    EXPECT_EQ(run.count("WARN Clipboard did not open, try again."), 2);
    EXPECT_GT(run.find("WARN Clipboard did not open, try again."), run.find("TRACE starting OpenClipboard()"));
    EXPECT_FALSE(run.has("INFO Finished, goodbye."));
}

TEST(Viewer, WithoutRunningViewerTheViewerOrItsSelectorIsStartedWithTheEncodedLinkInItsFolder)
{
    const std::wstring installation = real_program_files() + L"\\Corvane-Pro";
    const std::wstring selector_installation = real_program_files() + L"\\Corvane-Selector";
    const std::wstring link = L"-url \"http://example.org/a b\"";
    const std::string initial = " -initialURL \"http://example.org/a+b\"";
    // Rule, arguments, where vncviewer.exe lies ("" beside Ostrilo.exe), where
    // viewer_selector.exe lies ("" nowhere, "I" in KVIX_INSTALLPATH), what follows the
    // quoted program on its command line, the started program's working folder ("" Ostrilo's).
    const std::tuple<const char*, std::wstring, std::wstring, std::wstring, std::string, std::wstring> cases[] = {
        {nullptr, L"-url \"http://example.org/a b<c>\u00e4\"", L"", L"",
         " -initialURL \"http://example.org/a+b%3cc%3e%c3%a4\"", L""},
        {nullptr, link + L" -configdir \"C:\\cfg dir\\\\\"", L"", L"", initial + " -configdir \"C:\\cfg dir\"", L""},
        {remote_rule, L"-url \"http://remote.example.org/a b\"", L"", L"",
         " -initialURL \"work|firefox|http://remote.example.org/a+b\"", L""},
        {nullptr, link, installation, L"", initial, installation},
        {nullptr, link, L"", L"I", initial, L""},
        {nullptr, link, L"", selector_installation, initial, selector_installation},
        {"*|remote", L"-url \"https://example.com/stra\u00dfe/\u00e4\"", L"", L"",
         " -initialURL \"||https://example.com/stra%c3%9fe/%c3%a4\"", L""},
        // The text is cut at 4093 bytes, here inside the two bytes of the last letter.
        {"*|remote", L"-url \"https://example.com/" + std::wstring(4070, L'a') + L"\u00df\"", L"", L"",
         " -initialURL \"||https://example.com/" + std::string(4070, 'a') + "\"", L""},
    };
    for (const auto& [rule, arguments, viewer_folder, selector_folder, rest, folder] : cases) {
        SCOPED_TRACE(narrow(arguments + L" " + viewer_folder + L" " + selector_folder));
        sandbox box;
        const scoped_path shared[] = {scoped_path(installation, false), scoped_path(selector_installation, false)};
        box.put(L"url whitelist.txt", rule ? rule : "");
        const std::wstring viewer = (viewer_folder.empty() ? box.program_dir : viewer_folder) + L"\\vncviewer.exe";
        const std::wstring selector =
            (selector_folder == L"I" ? box.install_path : selector_folder) + L"\\viewer_selector.exe";
        box.standin(viewer, L"vncviewer_2_1_4");
        if (!selector_folder.empty())
            box.standin(selector);

        const run_result run = box.run(arguments);

        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.boxes.empty());
        // Ostrilo's folder ends in a backslash, and the search adds one; the installation folders do not.
        const std::wstring program = !selector_folder.empty() ? selector
                                     : viewer_folder.empty()  ? box.program_dir + L"\\\\vncviewer.exe"
                                                              : viewer;
        const std::string command_line = '"' + narrow(program) + '"' + rest;
        EXPECT_EQ(calls_of(program), command_line + "\n" + narrow(folder.empty() ? box.program_dir : folder) + "\n");
        EXPECT_EQ(calls_of(selector_folder.empty() ? selector : viewer, false), "");
        EXPECT_TRUE(run.has("DEBUG Calling: " + command_line));
        EXPECT_TRUE(run.has(user_record(false)));
        EXPECT_EQ(take_clipboard(), std::nullopt);
    }
}

TEST(Viewer, ViewerIsStartedFromVersionTwoOneFourOnElseTheNotFoundBoxNamesTheProduct)
{
    // The viewer installed (or none), its version as logged, whether it is
    // started, kvix.vnc beside the program; a selector in KVIX_INSTALLPATH is
    // not started when the viewer is not.
    const std::tuple<const wchar_t*, const char*, bool, const char*> cases[] = {
        {L"vncviewer_2_1_4", "2.1.4.0", true, ""},
        {L"vncviewer_2_2_0", "2.2.0.0", true, ""},
        {L"vncviewer_2_1_3", "2.1.3.99", false, ""},
        {L"standin", nullptr, false, ""},  // no version resource
        {nullptr, nullptr, false, "ProductName=Acme Remote\n"},
    };
    for (const auto& [build, version, started, viewer_settings] : cases) {
        SCOPED_TRACE(narrow(build ? build : L"no viewer"));
        sandbox box;
        const std::wstring viewer = box.program_dir + L"\\vncviewer.exe";
        if (build)
            box.standin(viewer, build);
        if (!started)
            box.standin(box.install_path + L"\\viewer_selector.exe");
        box.put(L"kvix.vnc", viewer_settings);

        const run_result run = box.run(L"-url \"http://example.org/version\"");

        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.has("INFO Finished, goodbye."));
        EXPECT_TRUE(!version || run.has("TRACE VNC Viewer Version: "s + version));
        EXPECT_EQ(calls_of(viewer, started) != "", started);
        EXPECT_EQ(calls_of(box.install_path + L"\\viewer_selector.exe", false), "");
        EXPECT_EQ(run.has("WARN This version is too old to use the -initialURL parameter."), build && !started);
        const std::wstring product = *viewer_settings ? L"Acme Remote" : L"Corvane-Pro";
        ASSERT_EQ(run.boxes.size(), started ? 0u : 1u);
        if (!started) {
            EXPECT_EQ(run.boxes[0].title, L"Feldrun " + product + L" Browserweiche Feldrun: Fehler");
            EXPECT_EQ(run.boxes[0].text, L"Der " + product + L" Viewer wurde leider nicht gefunden.");
        }
    }
}

// The viewer is started with an empty window title, which would match any
// untitled window: another program's untitled window is left alone.
TEST(Viewer, StartingTheViewerLeavesAnotherProgramsUntitledWindowAlone)
{
    sandbox box;
    box.standin(box.program_dir + L"\\vncviewer.exe", L"vncviewer_2_1_4");
    box.standin(box.root + L"\\bystander.exe");
    const HWND window = window_of(box.start(box.root + L"\\bystander.exe", {{L"STANDIN_WINDOW", L"-"}}));
    const run_result run = box.run(L"-url \"http://example.org/untitled\"");
    EXPECT_NE(calls_of(box.program_dir + L"\\vncviewer.exe"), "");
    EXPECT_FALSE(run.has("ERROR CAN NOT FIND WINDOW"));
    // Let any pending show request reach the bystander before looking.
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
    EXPECT_FALSE(IsIconic(window));
    EXPECT_FALSE(path_exists(box.root + L"\\bystander.exe.events"));
}

}  // namespace
