// The hand-off to the remote viewer as a user meets it. The viewer is the stand-in viewer_standin (its
// source lists its settings and records); its builds vncviewer_<major>_<minor>_<patch> carry those versions.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace std::string_literals;

namespace {

const wchar_t default_pipe[] = L"\\\\.\\pipe\\feldrun-pipe";
const wchar_t viewer_title[] = L"Corvane-Pro Viewer";
const char remote_rule[] = "remote.example.org/*|remote|firefox|work";
const wchar_t clipboard_blocked_text[] =
    L"Ich konnte nichts in die Zwischenablage kopieren, da ich diese nicht öffnen konnte. Ein anderes Programm "
    L"blockiert die Zwischenablage und gibt sie nicht wieder frei. Die Zwischenablage wird aber benötigt, damit ich "
    L"den Link an den Corvane-Pro VNC-Viewer weiterreichen kann. Bitte beenden sie das verantwortliche Programm oder "
    L"sorgen sie anderweitig dafür, dass es die Zwischenablage frei gibt, und rufen sie danach den Link erneut auf.";
const char pipe_failed_warning[] =
    "I couldn't write the url to the pipe. Probably the viewer is older than 2.1.4 or it is not running with 'multi'. "
    "I am going to use the clipboard instead.";

using settings = std::map<std::wstring, std::wstring>;

std::optional<std::wstring> clipboard_text()
{
    std::optional<std::wstring> text;
    if (OpenClipboard(nullptr)) {
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        if (const auto* characters = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr) {
            text = characters;
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    return text;
}

// Ends every program whose stand-in recorded its process id in the folder.
void end_recorded_programs(const std::wstring& records)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(records, error)) {
        if (entry.path().extension() != L".pid")
            continue;
        const DWORD id = std::stoul(read_file(entry.path().wstring()).value_or("0"));
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
        DeleteFileW(entry.path().c_str());
    }
}

// Starts a stand-in as if it had been running before the link was opened, with
// the sandbox's temporary folder and these settings in its environment.
DWORD start_standin(const sandbox& box, const std::wstring& program, settings values)
{
    values[L"TMP"] = values[L"TEMP"] = box.temp;
    settings saved;
    for (const auto& [name, value] : values) {
        wchar_t old[MAX_PATH] = L"";
        GetEnvironmentVariableW(name.c_str(), old, MAX_PATH);
        saved[name] = old;
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command_line = L"\"" + program + L"\"";
    const bool started = CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        box.cwd.c_str(), &startup, &process);
    for (const auto& [name, value] : saved)
        SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
    EXPECT_TRUE(started) << "cannot start " << narrow(program);
    // The stand-in sets up its window and pipe before it first waits for input.
    WaitForInputIdle(process.hProcess, 20000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return process.dwProcessId;
}

// The stand-in window of this process, or nullptr.
HWND window_of(DWORD process_id)
{
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, L"OstriloViewerStandin", nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process_id)
            return window;
    }
    return nullptr;
}

std::string os_user()
{
    char user[257] = {};
    DWORD size = sizeof user;
    GetUserNameA(user, &size);
    return user;
}

// A sandbox whose stand-ins record into its "records" folder, with an empty
// clipboard; programs that a row started are ended before the next row.
class Viewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        box.set_env(L"STANDIN_RECORD_DIR", records);
        next_row();
    }
    void TearDown() override { end_recorded_programs(records); }

    std::wstring record(const std::wstring& name) const { return records + L"\\" + name; }
    void next_row()
    {
        end_recorded_programs(records);
        remove_tree(records);
        make_folders(records);
        DeleteFileW((box.temp + L"\\kvixtemp\\feldrun_pipename").c_str());
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            CloseClipboard();
        }
    }
    // Replaces the file beside Ostrilo.exe by this content, or removes it.
    void put_file(const wchar_t* name, const char* content)
    {
        DeleteFileW((box.program_dir + L"\\" + name).c_str());
        if (content)
            write_file(box.program_dir + L"\\" + name, content + "\r\n"s);
    }
    // A viewer of the current user that runs before the link is opened.
    DWORD start_viewer(const std::wstring& name, settings values)
    {
        const std::wstring program = box.root + L"\\running\\" + name + L"\\vncviewer.exe";
        box.copy_standin(L"viewer_standin", program);
        values[L"STANDIN_NAME"] = name;
        values[L"STANDIN_RECORD_DIR"] = records;
        return start_standin(box, program, values);
    }
    // The viewer that Ostrilo finds beside itself when it must start one.
    void install_viewer(const std::wstring& build = L"vncviewer_2_1_4")
    {
        box.copy_standin(build, box.program_dir + L"\\vncviewer.exe");
    }

    sandbox box;
    std::wstring records = box.root + L"\\records";
};

// --- A running viewer ---

struct running_case {
    const char* behaviour;
    const char* rule;             // the rule file's line, or nullptr
    const char* viewer_settings;  // kvix.vnc beside Ostrilo.exe, or nullptr
    std::wstring url;
    settings viewer;              // the running viewer's pipe and (unless the default) window title
    std::string message;          // the bytes its pipe receives, or ""
    std::wstring clipboard;       // else the clipboard text, or "" when a new viewer is started instead
    bool busy_pipe = false;       // the standard pipe's only instance is taken by another client
};

// In every row a windowless viewer of the user, first in the process list,
// is passed over.
TEST_F(Viewer, RunningViewerGetsTheEncodedTextThroughItsPipeOrTheTextAsReceivedOnTheClipboard)
{
    const std::wstring url = L"http://example.org/a b?x=1&y=%41<\u00e4>";
    const std::string encoded = "http://example.org/a+b?x=1&y=%41%3c%c3%a4%3e\0"s;
    const std::wstring remote = L"http://remote.example.org/a b";
    const std::wstring german = L"https://example.com/stra\u00dfe/\u00e4";
    const char acme[] = "ProductName=Acme Remote";
    const settings served = {{L"STANDIN_PIPE", default_pipe}};
    const running_case cases[] = {
        {"the standard pipe gets the encoded text and a NUL byte", nullptr, nullptr, url, served, encoded, L""},
        {"the pipe named in the pipe-name file is used", nullptr, nullptr, url,
         {{L"STANDIN_PIPE", L"\\\\.\\pipe\\ostrilo-standin-named"}, {L"STANDIN_PUBLISH_PIPE_NAME", L"1"}}, encoded,
         L""},
        {"a remote rule's text keeps its two bars", remote_rule, nullptr, remote, served,
         "work|firefox|http://remote.example.org/a+b\0"s, L""},
        {"a window title with @ and dpi counts", nullptr, nullptr, url,
         {{L"STANDIN_PIPE", default_pipe}, {L"STANDIN_WINDOW_TITLE", L"jo@host:1 (96dpi)"}}, encoded, L""},
        {"the product name comes from the viewer settings", nullptr, acme, url,
         {{L"STANDIN_PIPE", default_pipe}, {L"STANDIN_WINDOW_TITLE", L"Acme Remote Viewer"}}, encoded, L""},
        {"without a pipe the clipboard holds nburl: and the text", nullptr, nullptr, url, {}, "", L"nburl:" + url},
        {"a pipe-name file whose line ends in a line break names no pipe", nullptr, nullptr, url,
         {{L"STANDIN_PIPE", L"\\\\.\\pipe\\ostrilo-standin-line-end"}, {L"STANDIN_PUBLISH_PIPE_NAME", L"line_end"}},
         "", L"nburl:" + url},
        {"the remote text on the clipboard", remote_rule, nullptr, remote, {}, "", L"nburl:work|firefox|" + remote},
        {"another product's name does not count", nullptr, acme, url, served, "", L""},
        {"a busy pipe sends the text to the clipboard", nullptr, nullptr, url, {}, "", L"nburl:" + url, true},
        {"a remote rule's non-ASCII link reaches the pipe as UTF-8", "*|remote", nullptr, german, served,
         "||https://example.com/stra%c3%9fe/%c3%a4\0"s, L""},
        {"a remote rule's non-ASCII link reaches the clipboard unchanged", "*|remote", nullptr, german, {}, "",
         L"nburl:||" + german},
    };
    install_viewer();
    for (const running_case& c : cases) {
        next_row();
        put_file(L"url whitelist.txt", c.rule);
        put_file(L"kvix.vnc", c.viewer_settings);
        start_viewer(L"windowless", {});
        settings values = c.viewer;
        values[L"STANDIN_WINDOW"] = L"1";
        values.emplace(L"STANDIN_WINDOW_TITLE", viewer_title);
        const DWORD viewer = start_viewer(L"running", values);
        const HWND window = window_of(viewer);
        ASSERT_NE(window, nullptr) << c.behaviour;
        ShowWindow(window, SW_MINIMIZE);
        for (int i = 0; i < 100 && !IsIconic(window); ++i)
            Sleep(50);

        const HANDLE busy = c.busy_pipe ? CreateNamedPipeW(default_pipe, PIPE_ACCESS_DUPLEX, 0, 1, 64, 64, 0, nullptr)
                                        : INVALID_HANDLE_VALUE;
        const HANDLE taker = c.busy_pipe ? CreateFileW(default_pipe, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                                       nullptr)
                                         : INVALID_HANDLE_VALUE;
        EXPECT_EQ(c.busy_pipe, taker != INVALID_HANDLE_VALUE) << c.behaviour << ": the pipe is taken";
        run_result run = box.run(L"-url \"" + c.url + L"\"");
        for (HANDLE pipe : {taker, busy})
            if (pipe != INVALID_HANDLE_VALUE)
                CloseHandle(pipe);

        EXPECT_EQ(run.exit_code, 0u) << c.behaviour;
        EXPECT_TRUE(run.boxes.empty()) << c.behaviour;
        if (c.message.empty() && c.clipboard.empty()) {
            EXPECT_TRUE(wait_for_file(record(L"vncviewer.cmdline"))) << c.behaviour << ": a viewer is started";
            EXPECT_FALSE(path_exists(record(L"running.pipe.1"))) << c.behaviour;
            continue;
        }
        EXPECT_TRUE(run.logged("DEBUG", "vncviewer.exe is running for user '" + os_user() +
                                            "' (process id: " + std::to_string(viewer) + ")"))
            << c.behaviour;
        EXPECT_FALSE(IsIconic(window)) << c.behaviour << ": the viewer window is brought back";
        EXPECT_FALSE(path_exists(record(L"vncviewer.cmdline"))) << c.behaviour << ": no second viewer started";
        if (!c.message.empty()) {
            EXPECT_EQ(wait_for_file(record(L"running.pipe.1")), c.message) << c.behaviour;
            // Printed last, without a line end.
            EXPECT_TRUE(run.out.ends_with("Sent (encoded) URL: '" + c.message.substr(0, c.message.size() - 1) + "'"))
                << c.behaviour << ": " << run.out;
            EXPECT_EQ(clipboard_text(), std::nullopt) << c.behaviour;
        } else {
            EXPECT_EQ(clipboard_text(), c.clipboard) << c.behaviour;
            EXPECT_TRUE(run.logged("WARN", pipe_failed_warning)) << c.behaviour;
            EXPECT_FALSE(path_exists(record(L"running.pipe.1"))) << c.behaviour;
            EXPECT_EQ(run.out.find("Sent (encoded) URL:"), std::string::npos) << c.behaviour;
        }
    }
}

TEST_F(Viewer, ClipboardHeldByAnotherProgramIsTriedThreeTimesThenTheFatalBoxEndsTheRun)
{
    install_viewer();
    start_viewer(L"running", {{L"STANDIN_WINDOW", L"1"}, {L"STANDIN_WINDOW_TITLE", viewer_title}});
    // Held by a window, as by another program: Wine lets two window-less opens
    // of the clipboard stand side by side.
    HWND holder = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    const bool held = OpenClipboard(holder);

    run_result run = box.run(L"-url \"http://example.org/held\"");

    if (held)
        CloseClipboard();
    DestroyWindow(holder);
    ASSERT_TRUE(held);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].title, L"Feldrun Corvane-Pro Browserweiche Feldrun: Fehler");
    // The box may add the runtime's last error number behind the message.
    EXPECT_TRUE(run.boxes[0].text.starts_with(clipboard_blocked_text)) << narrow(run.boxes[0].text);
    EXPECT_NE(run.exit_code, 0u);
    int attempt = run.find_record("starting OpenClipboard()");
    for (int retry = 0; retry < 2 && attempt >= 0; ++retry)
        attempt = run.find_record("Clipboard did not open, try again.", attempt + 1);
    ASSERT_GE(attempt, 0) << "three tries";
    EXPECT_EQ(run.find_record("Clipboard did not open, try again.", attempt + 1), -1) << "only three tries";
    EXPECT_FALSE(run.logged("INFO", "Finished, goodbye."));
}

// --- No running viewer ---

struct start_case {
    const char* behaviour;
    const char* rule;       // the rule file's line, or nullptr
    std::wstring arguments;
    std::wstring viewer;    // where vncviewer.exe lies
    std::wstring selector;  // where viewer_selector.exe lies, or ""
    std::string rest;       // what follows the quoted program on its command line
    std::wstring folder;    // the started program's working folder
};

TEST_F(Viewer, WithoutRunningViewerTheViewerOrItsSelectorIsStartedWithTheEncodedLinkInItsFolder)
{
    const std::wstring viewer_installation = real_program_files() + L"\\Corvane-Pro";
    const std::wstring selector_installation = real_program_files() + L"\\Corvane-Selector";
    const std::wstring beside = box.program_dir + L"\\vncviewer.exe";
    const std::wstring link = L"-url \"http://example.org/a b\"";
    const std::string initial = " -initialURL \"http://example.org/a+b\"";
    const start_case cases[] = {
        {"the encoded link in quotes ends the command line", nullptr, L"-url \"http://example.org/a b<c>\u00e4\"",
         beside, L"", " -initialURL \"http://example.org/a+b%3cc%3e%c3%a4\"", box.program_dir},
        {"-configdir and its folder in quotes follow the link", nullptr, link + L" -configdir \"C:\\cfg dir\\\\\"",
         beside, L"", initial + " -configdir \"C:\\cfg dir\"", box.program_dir},
        {"a remote rule's text keeps its two bars", remote_rule, L"-url \"http://remote.example.org/a b\"", beside,
         L"", " -initialURL \"work|firefox|http://remote.example.org/a+b\"", box.program_dir},
        {"a remote rule's non-ASCII link as UTF-8", "*|remote", L"-url \"https://example.com/stra\u00dfe/\u00e4\"",
         beside, L"", " -initialURL \"||https://example.com/stra%c3%9fe/%c3%a4\"", box.program_dir},
        // The text is cut at 4093 bytes, here inside the two bytes of the last letter.
        {"a cut remote text ends before a split UTF-8 sequence", "*|remote",
         L"-url \"https://example.com/" + std::wstring(4070, L'a') + L"\u00df\"", beside, L"",
         " -initialURL \"||https://example.com/" + std::string(4070, 'a') + "\"", box.program_dir},
        {"the viewer of the Program Files installation starts there", nullptr, link,
         viewer_installation + L"\\vncviewer.exe", L"", initial, viewer_installation},
        {"a selector in KVIX_INSTALLPATH starts in the program folder", nullptr, link, beside,
         box.install_path + L"\\viewer_selector.exe", initial, box.program_dir},
        {"a selector in Program Files starts in its own folder", nullptr, link, beside,
         selector_installation + L"\\viewer_selector.exe", initial, selector_installation},
    };
    for (const start_case& c : cases) {
        next_row();
        put_file(L"url whitelist.txt", c.rule);
        DeleteFileW(beside.c_str());
        DeleteFileW((box.install_path + L"\\viewer_selector.exe").c_str());
        std::optional<scoped_folder> viewer_folder, selector_folder;
        if (c.viewer.starts_with(viewer_installation))
            viewer_folder.emplace(viewer_installation);
        if (c.selector.starts_with(selector_installation))
            selector_folder.emplace(selector_installation);
        box.copy_standin(L"vncviewer_2_1_4", c.viewer);
        if (!c.selector.empty())
            box.copy_standin(L"viewer_standin", c.selector);

        run_result run = box.run(c.arguments);

        EXPECT_EQ(run.exit_code, 0u) << c.behaviour;
        EXPECT_TRUE(run.boxes.empty()) << c.behaviour;
        // Ostrilo's folder ends in a backslash, and the search adds one; the
        // installation folders do not.
        const std::wstring program = !c.selector.empty() ? c.selector
                                     : c.viewer == beside ? box.program_dir + L"\\\\vncviewer.exe"
                                                          : c.viewer;
        const std::string command_line = '"' + narrow(program) + '"' + c.rest;
        const std::wstring started = c.selector.empty() ? L"vncviewer" : L"viewer_selector";
        EXPECT_EQ(wait_for_file(record(started + L".cmdline")), command_line) << c.behaviour;
        EXPECT_EQ(read_file(record(started + L".cwd")), narrow(c.folder)) << c.behaviour;
        EXPECT_FALSE(path_exists(record(c.selector.empty() ? L"viewer_selector.cmdline" : L"vncviewer.cmdline")))
            << c.behaviour;
        EXPECT_TRUE(run.logged("DEBUG", "Calling: " + command_line)) << c.behaviour;
        EXPECT_TRUE(run.logged("DEBUG", "vncviewer.exe is not running for user '" + os_user() + "'")) << c.behaviour;
        EXPECT_EQ(clipboard_text(), std::nullopt) << c.behaviour;
        end_recorded_programs(records);  // before its folder goes
    }
}

struct version_case {
    const wchar_t* build;  // installed as vncviewer.exe, or nullptr for none anywhere
    const char* version;   // as logged, or nullptr without a version resource
    bool started;
    bool selector = false;                  // viewer_selector.exe in KVIX_INSTALLPATH
    const char* viewer_settings = nullptr;  // kvix.vnc beside the program
};

TEST_F(Viewer, ViewerIsStartedFromVersionTwoOneFourOnElseTheNotFoundBoxNamesTheProduct)
{
    const version_case cases[] = {
        {L"vncviewer_2_1_4", "2.1.4.0", true},   {L"vncviewer_2_5_7", "2.5.7.0", true},
        {L"vncviewer_2_2_0", "2.2.0.0", true},   {L"vncviewer_3_0_0", "3.0.0.0", true},
        {L"vncviewer_2_1_3", "2.1.3.99", false}, {L"vncviewer_2_0_9", "2.0.9.0", false},
        {L"vncviewer_1_9_9", "1.9.9.0", false},  {L"viewer_standin", nullptr, false},
        {nullptr, nullptr, false},               {nullptr, nullptr, false, false, "ProductName=Acme Remote"},
        // The selector is not started when the viewer is too old or missing.
        {L"vncviewer_2_1_3", "2.1.3.99", false, true}, {nullptr, nullptr, false, true},
    };
    for (const version_case& c : cases) {
        const std::string row = narrow(c.build ? c.build : L"no viewer") + (c.selector ? ", a selector" : "") +
                                (c.viewer_settings ? ", another product" : "");
        next_row();
        DeleteFileW((box.program_dir + L"\\vncviewer.exe").c_str());
        DeleteFileW((box.install_path + L"\\viewer_selector.exe").c_str());
        if (c.build)
            install_viewer(c.build);
        if (c.selector)
            box.copy_standin(L"viewer_standin", box.install_path + L"\\viewer_selector.exe");
        put_file(L"kvix.vnc", c.viewer_settings);

        run_result run = box.run(L"-url \"http://example.org/version\"");

        EXPECT_EQ(run.exit_code, 0u) << row;
        EXPECT_TRUE(run.logged("INFO", "Finished, goodbye.")) << row;
        EXPECT_TRUE(!c.version || run.logged("TRACE", "VNC Viewer Version: "s + c.version)) << row;
        if (c.started) {
            EXPECT_TRUE(run.boxes.empty()) << row;
            EXPECT_TRUE(wait_for_file(record(L"vncviewer.cmdline"))) << row;
            continue;
        }
        EXPECT_TRUE(!c.build || run.logged("WARN", "This version is too old to use the -initialURL parameter.")) << row;
        EXPECT_FALSE(path_exists(record(L"vncviewer.cmdline"))) << row;
        EXPECT_FALSE(path_exists(record(L"viewer_selector.cmdline"))) << row;
        const std::wstring product = c.viewer_settings ? L"Acme Remote" : L"Corvane-Pro";
        ASSERT_EQ(run.boxes.size(), 1u) << row;
        EXPECT_EQ(run.boxes[0].title, L"Feldrun " + product + L" Browserweiche Feldrun: Fehler") << row;
        EXPECT_EQ(run.boxes[0].text, L"Der " + product + L" Viewer wurde leider nicht gefunden.") << row;
    }
}

// The viewer is started with an empty window title. Such a title would match
// any untitled window on the desktop, so no window is searched for: another
// program's untitled window is left alone.
TEST_F(Viewer, StartingTheViewerLeavesAnotherProgramsUntitledWindowAlone)
{
    install_viewer();
    const std::wstring bystander_program = box.root + L"\\bystander\\bystander.exe";
    box.copy_standin(L"viewer_standin", bystander_program);
    const HWND bystander = window_of(start_standin(
        box, bystander_program,
        {{L"STANDIN_RECORD_DIR", records}, {L"STANDIN_NAME", L"bystander"}, {L"STANDIN_WINDOW", L"1"}}));
    ASSERT_NE(bystander, nullptr);

    run_result run = box.run(L"-url \"http://example.org/untitled\"");

    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(wait_for_file(record(L"vncviewer.cmdline")));
    EXPECT_FALSE(run.logged("ERROR", "CAN NOT FIND WINDOW"));
    // Let any pending show request reach the bystander before looking.
    SendMessageTimeoutW(bystander, WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
    EXPECT_FALSE(IsIconic(bystander));
    const std::string events = read_file(record(L"bystander.events")).value_or("");
    EXPECT_EQ(events.find("minimized"), std::string::npos) << events;
}

}  // namespace
