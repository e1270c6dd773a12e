// The hand-off to the remote viewer as a user meets it: a running viewer gets
// the link through its pipe or the clipboard; else the viewer (from version
// 2.1.4 on) or its selector is started with it; else a box says so.
#include "sandbox.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

const wchar_t default_pipe[] = L"\\\\.\\pipe\\feldrun-pipe";
const char remote_rule[] = "remote.example.org/*|remote|firefox|work\n";
const std::string pipe_failed =
    "WARN I couldn't write the url to the pipe. Probably the viewer is older than 2.1.4 or it is not running with "
    "'multi'. I am going to use the clipboard instead.";

std::optional<std::wstring> clipboard_text()
{
    std::optional<std::wstring> text;
    if (OpenClipboard(nullptr)) {
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            text = static_cast<const wchar_t*>(GlobalLock(data));
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    return text;
}

std::string os_user()
{
    char user[257] = {};
    DWORD size = sizeof user;
    GetUserNameA(user, &size);
    return user;
}

HWND window_of(DWORD process_id)
{
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, L"OstriloStandin", nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process_id)
            return window;
    }
    return nullptr;
}

// One sandbox for all rows of a table; each row starts from no running
// program, no records, no pipe-name file and an empty clipboard.
struct Viewer : ::testing::Test {
    sandbox box;
    const std::wstring installed = box.program_dir + L"\\vncviewer.exe";
    const std::wstring running = box.root + L"\\running\\vncviewer.exe";

    void next_row(const char* rule = nullptr, const char* viewer_settings = nullptr)
    {
        box.end_programs();
        for (const std::wstring& standin : {installed, running, box.install_path + L"\\viewer_selector.exe"})
            for (const wchar_t* record : {L".calls.txt", L".pipe.1"})
                DeleteFileW((standin + record).c_str());
        DeleteFileW((box.temp + L"\\kvixtemp\\feldrun_pipename").c_str());
        DeleteFileW((box.program_dir + L"\\url whitelist.txt").c_str());
        DeleteFileW((box.program_dir + L"\\kvix.vnc").c_str());
        if (rule)
            box.put(L"url whitelist.txt", rule);
        if (viewer_settings)
            box.put(L"kvix.vnc", viewer_settings);
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            CloseClipboard();
        }
    }
    // A viewer of the user that runs before the link is opened, minimized.
    std::pair<DWORD, HWND> start_viewer(std::map<std::wstring, std::wstring> settings)
    {
        box.standin(box.root + L"\\windowless\\vncviewer.exe");
        box.start(box.root + L"\\windowless\\vncviewer.exe", {{L"STANDIN_PIPE", L"\\\\.\\pipe\\ostrilo-windowless"}});
        box.standin(running);
        settings.emplace(L"STANDIN_WINDOW", L"Corvane-Pro Viewer");
        const DWORD id = box.start(running, settings);
        const HWND window = window_of(id);
        ShowWindow(window, SW_MINIMIZE);
        for (int i = 0; i < 100 && !IsIconic(window); ++i)
            Sleep(50);
        return {id, window};
    }
};

struct running_case {
    const char* behaviour;
    const char* rule;
    const char* viewer_settings;  // kvix.vnc beside Ostrilo.exe
    std::wstring url;
    std::map<std::wstring, std::wstring> viewer;  // the running viewer's settings
    std::string message;                          // the bytes its pipe receives, or ""
    std::wstring clipboard;  // else the clipboard text, or "" when a new viewer is started instead
};

// In every row a windowless viewer of the user, first in the process list, is passed over.
TEST_F(Viewer, RunningViewerGetsTheEncodedTextThroughItsPipeOrTheTextAsReceivedOnTheClipboard)
{
    const std::wstring url = L"http://example.org/a b?x=1&y=%41<\u00e4>", remote = L"http://remote.example.org/a b";
    const std::string encoded = "http://example.org/a+b?x=1&y=%41%3c%c3%a4%3e\0"s;
    const char acme[] = "ProductName=Acme Remote\n";
    const std::map<std::wstring, std::wstring> served = {{L"STANDIN_PIPE", default_pipe}};
    const running_case cases[] = {
        {"the standard pipe gets the encoded text and a NUL byte", nullptr, nullptr, url, served, encoded, L""},
        {"the pipe named in the pipe-name file is used", nullptr, nullptr, url,
         {{L"STANDIN_PIPE", L"\\\\.\\pipe\\ostrilo-named"}, {L"STANDIN_PUBLISH_PIPE_NAME", L"1"}}, encoded, L""},
        {"a remote rule's text keeps its two bars", remote_rule, nullptr, remote, served,
         "work|firefox|http://remote.example.org/a+b\0"s, L""},
        {"a window title with @ and dpi counts", nullptr, nullptr, url,
         {{L"STANDIN_PIPE", default_pipe}, {L"STANDIN_WINDOW", L"jo@host:1 (96dpi)"}}, encoded, L""},
        {"the product name comes from the viewer settings", nullptr, acme, url,
         {{L"STANDIN_PIPE", default_pipe}, {L"STANDIN_WINDOW", L"Acme Remote Viewer"}}, encoded, L""},
        {"without a pipe the clipboard holds nburl: and the text", nullptr, nullptr, url, {}, "", L"nburl:" + url},
        {"a pipe-name file whose line ends in a line break names no pipe", nullptr, nullptr, url,
         {{L"STANDIN_PIPE", L"\\\\.\\pipe\\ostrilo-line-end"}, {L"STANDIN_PUBLISH_PIPE_NAME", L"line_end"}}, "",
         L"nburl:" + url},
        {"the remote text on the clipboard", remote_rule, nullptr, remote, {}, "", L"nburl:work|firefox|" + remote},
        {"another product's name does not count", nullptr, acme, url, served, "", L""},
    };
    for (const running_case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        next_row(c.rule, c.viewer_settings);
        box.standin(installed, L"vncviewer_2_1_4");
        const auto [viewer, window] = start_viewer(c.viewer);
        ASSERT_NE(window, nullptr);

        const run_result run = box.run(L"-url \"" + c.url + L"\"");

        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.boxes.empty());
        if (c.message.empty() && c.clipboard.empty()) {
            EXPECT_NE(calls_of(installed), "") << "a viewer is started";
            EXPECT_FALSE(path_exists(running + L".pipe.1"));
            continue;
        }
        EXPECT_TRUE(run.has("DEBUG vncviewer.exe is running for user '" + os_user() + "' (process id: " +
                            std::to_string(viewer) + ")"))
            << run.err;
        EXPECT_FALSE(IsIconic(window)) << "the viewer window is brought back";
        EXPECT_EQ(calls_of(installed, false), "") << "no second viewer started";
        EXPECT_EQ(run.has(pipe_failed), c.message.empty());
        if (!c.message.empty()) {
            EXPECT_EQ(wait_for_file(running + L".pipe.1"), c.message);
            // Printed last, without a line end.
            EXPECT_TRUE(run.out.ends_with("Sent (encoded) URL: '" + c.message.substr(0, c.message.size() - 1) + "'"))
                << run.out;
        } else {
            EXPECT_FALSE(path_exists(running + L".pipe.1"));
            EXPECT_EQ(run.out.find("Sent (encoded) URL:"), std::string::npos);
        }
        EXPECT_EQ(clipboard_text(), c.message.empty() ? std::optional(c.clipboard) : std::nullopt);
    }
}

TEST_F(Viewer, ClipboardHeldByAnotherProgramIsTriedThreeTimesThenTheFatalBoxEndsTheRun)
{
    next_row();
    start_viewer({});
    // Held by a window, as by another program: Wine lets two window-less opens
    // of the clipboard stand side by side.
    HWND holder = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    const bool held = OpenClipboard(holder);
    const run_result run = box.run(L"-url \"http://example.org/held\"");
    if (held)
        CloseClipboard();
    DestroyWindow(holder);
    ASSERT_TRUE(held);
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
    const int first = run.find("TRACE starting OpenClipboard()");
    EXPECT_EQ(run.count("WARN Clipboard did not open, try again."), 2);
    EXPECT_GT(run.find("WARN Clipboard did not open, try again."), first);
    EXPECT_FALSE(run.has("INFO Finished, goodbye."));
}

struct start_case {
    const char* behaviour;
    const char* rule;
    std::wstring arguments;
    std::wstring viewer;    // where vncviewer.exe lies
    std::wstring selector;  // where viewer_selector.exe lies, or ""
    std::string rest;       // what follows the quoted program on its command line
    std::wstring folder;    // the started program's working folder
};

TEST_F(Viewer, WithoutRunningViewerTheViewerOrItsSelectorIsStartedWithTheEncodedLinkInItsFolder)
{
    const scoped_path viewer_installation(real_program_files() + L"\\Corvane-Pro", false),
        selector_installation(real_program_files() + L"\\Corvane-Selector", false);
    const std::wstring link = L"-url \"http://example.org/a b\"";
    const std::string initial = " -initialURL \"http://example.org/a+b\"";
    const start_case cases[] = {
        {"the encoded link in quotes ends the command line", nullptr, L"-url \"http://example.org/a b<c>\u00e4\"",
         installed, L"", " -initialURL \"http://example.org/a+b%3cc%3e%c3%a4\"", box.program_dir},
        {"-configdir and its folder in quotes follow the link", nullptr, link + L" -configdir \"C:\\cfg dir\\\\\"",
         installed, L"", initial + " -configdir \"C:\\cfg dir\"", box.program_dir},
        {"a remote rule's text keeps its two bars", remote_rule, L"-url \"http://remote.example.org/a b\"",
         installed, L"", " -initialURL \"work|firefox|http://remote.example.org/a+b\"", box.program_dir},
        {"the viewer of the Program Files installation starts there", nullptr, link,
         viewer_installation.path + L"\\vncviewer.exe", L"", initial, viewer_installation.path},
        {"a selector in KVIX_INSTALLPATH starts in the program folder", nullptr, link, installed,
         box.install_path + L"\\viewer_selector.exe", initial, box.program_dir},
        {"a selector in Program Files starts in its own folder", nullptr, link, installed,
         selector_installation.path + L"\\viewer_selector.exe", initial, selector_installation.path},
    };
    for (const start_case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        next_row(c.rule);
        for (const std::wstring& path : {installed, box.install_path + L"\\viewer_selector.exe",
                                         viewer_installation.path, selector_installation.path})
            remove_tree(path);
        box.standin(c.viewer, L"vncviewer_2_1_4");
        if (!c.selector.empty())
            box.standin(c.selector);

        const run_result run = box.run(c.arguments);

        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.boxes.empty());
        // Ostrilo's folder ends in a backslash, and the search adds one; the
        // installation folders do not.
        const std::wstring program = !c.selector.empty() ? c.selector
                                     : c.viewer == installed ? box.program_dir + L"\\\\vncviewer.exe"
                                                             : c.viewer;
        const std::string command_line = '"' + narrow(program) + '"' + c.rest;
        EXPECT_EQ(calls_of(c.selector.empty() ? c.viewer : c.selector), command_line + "\n" + narrow(c.folder) + "\n");
        EXPECT_EQ(calls_of(c.selector.empty() ? box.install_path + L"\\viewer_selector.exe" : c.viewer, false), "");
        EXPECT_TRUE(run.has("DEBUG Calling: " + command_line));
        EXPECT_TRUE(run.has("DEBUG vncviewer.exe is not running for user '" + os_user() + "'"));
        EXPECT_EQ(clipboard_text(), std::nullopt);
    }
}

TEST_F(Viewer, ViewerIsStartedFromVersionTwoOneFourOnElseTheNotFoundBoxNamesTheProduct)
{
    const struct {
        const wchar_t* build;  // installed as vncviewer.exe, or nullptr for none anywhere
        const char* version;   // as logged, or nullptr without a version resource
        bool started;
        bool selector = false;                  // viewer_selector.exe in KVIX_INSTALLPATH
        const char* viewer_settings = nullptr;  // kvix.vnc beside the program
    } cases[] = {
        {L"vncviewer_2_1_4", "2.1.4.0", true},
        {L"vncviewer_2_2_0", "2.2.0.0", true},
        {L"standin", nullptr, false},
        {nullptr, nullptr, false, false, "ProductName=Acme Remote\n"},
        // The selector is not started when the viewer is too old.
        {L"vncviewer_2_1_3", "2.1.3.99", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.build ? c.build : L"no viewer"));
        next_row(nullptr, c.viewer_settings);
        DeleteFileW(installed.c_str());
        DeleteFileW((box.install_path + L"\\viewer_selector.exe").c_str());
        if (c.build)
            box.standin(installed, c.build);
        if (c.selector)
            box.standin(box.install_path + L"\\viewer_selector.exe");

        const run_result run = box.run(L"-url \"http://example.org/version\"");

        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.has("INFO Finished, goodbye."));
        EXPECT_TRUE(!c.version || run.has("TRACE VNC Viewer Version: "s + c.version));
        EXPECT_EQ(calls_of(installed, c.started) != "", c.started);
        EXPECT_EQ(calls_of(box.install_path + L"\\viewer_selector.exe", false), "");
        EXPECT_EQ(run.has("WARN This version is too old to use the -initialURL parameter."), c.build && !c.started);
        const std::wstring product = c.viewer_settings ? L"Acme Remote" : L"Corvane-Pro";
        ASSERT_EQ(run.boxes.size(), c.started ? 0u : 1u);
        if (!c.started) {
            EXPECT_EQ(run.boxes[0].title, L"Feldrun " + product + L" Browserweiche Feldrun: Fehler");
            EXPECT_EQ(run.boxes[0].text, L"Der " + product + L" Viewer wurde leider nicht gefunden.");
        }
    }
}

// The viewer is started with an empty window title, which would match any
// untitled window: another program's untitled window is left alone.
TEST_F(Viewer, StartingTheViewerLeavesAnotherProgramsUntitledWindowAlone)
{
    next_row();
    box.standin(installed, L"vncviewer_2_1_4");
    const std::wstring bystander = box.root + L"\\bystander\\bystander.exe";
    box.standin(bystander);
    const HWND window = window_of(box.start(bystander, {{L"STANDIN_WINDOW", L"-"}}));
    ASSERT_NE(window, nullptr);
    const run_result run = box.run(L"-url \"http://example.org/untitled\"");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_NE(calls_of(installed), "");
    EXPECT_FALSE(run.has("ERROR CAN NOT FIND WINDOW"));
    // Let any pending show request reach the bystander before looking.
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
    EXPECT_FALSE(IsIconic(window));
    EXPECT_FALSE(path_exists(bystander + L".events"));
}

}  // namespace
