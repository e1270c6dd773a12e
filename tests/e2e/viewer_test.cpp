// The hand-off to the remote viewer as a user meets it: a running viewer gets
// the link through its pipe or the clipboard, otherwise the viewer (or its
// selector) is started with the link, or a box says that there is none.
//
// The viewer is the stand-in program viewer_standin (see its source for the
// settings and records); its builds vncviewer_<major>_<minor>_<patch> carry
// those file versions.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

const wchar_t default_pipe[] = L"\\\\.\\pipe\\feldrun-pipe";
const wchar_t viewer_title[] = L"Corvane-Pro Viewer";
const wchar_t error_title[] = L"Feldrun Corvane-Pro Browserweiche Feldrun: Fehler";
const wchar_t not_found_text[] = L"Der Corvane-Pro Viewer wurde leider nicht gefunden.";
const wchar_t clipboard_blocked_text[] =
    L"Ich konnte nichts in die Zwischenablage kopieren, da ich diese nicht öffnen konnte. Ein anderes Programm "
    L"blockiert die Zwischenablage und gibt sie nicht wieder frei. Die Zwischenablage wird aber benötigt, damit ich "
    L"den Link an den Corvane-Pro VNC-Viewer weiterreichen kann. Bitte beenden sie das verantwortliche Programm oder "
    L"sorgen sie anderweitig dafür, dass es die Zwischenablage frei gibt, und rufen sie danach den Link erneut auf.";
const char pipe_failed_warning[] =
    "I couldn't write the url to the pipe. Probably the viewer is older than 2.1.4 or it is not running with 'multi'. "
    "I am going to use the clipboard instead.";

using settings = std::map<std::wstring, std::wstring>;

std::wstring without_trailing_backslashes(std::wstring path)
{
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

bool same_folder(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(without_trailing_backslashes(a).c_str(), without_trailing_backslashes(b).c_str()) == 0;
}

// --- Clipboard ---

std::optional<std::wstring> clipboard_text()
{
    if (!OpenClipboard(nullptr))
        return std::nullopt;
    std::optional<std::wstring> text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* characters = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = characters;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void empty_clipboard()
{
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

// Holds the clipboard open, as a program that does not give it back. It is
// held by a window: Wine lets two window-less opens of the clipboard stand
// side by side.
class clipboard_holder {
public:
    clipboard_holder()
        : window_(CreateWindowExW(0, L"STATIC", L"clipboard holder", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr)),
          held_(OpenClipboard(window_) != 0)
    {
    }
    ~clipboard_holder()
    {
        if (held_)
            CloseClipboard();
        DestroyWindow(window_);
    }
    clipboard_holder(const clipboard_holder&) = delete;
    clipboard_holder& operator=(const clipboard_holder&) = delete;
    bool held() const { return held_; }

private:
    HWND window_;
    bool held_;
};

// --- Stand-in programs ---

// Ends every program whose stand-in recorded its process id in the folder.
void end_recorded_programs(const std::wstring& records)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((records + L"\\*.pid").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::optional<std::string> id = read_file(records + L"\\" + data.cFileName);
        if (!id || id->empty())
            continue;
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, std::stoul(*id))) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
        DeleteFileW((records + L"\\" + data.cFileName).c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

struct window_search {
    DWORD process_id;
    HWND found;
};

BOOL CALLBACK find_process_window(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<window_search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t class_name[64] = L"";
    GetClassNameW(window, class_name, 64);
    if (owner == search->process_id && std::wcscmp(class_name, L"OstriloViewerStandin") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A stand-in started by the test itself, as if it had been running before the
// link was opened; it sees the sandbox's temporary folder. Ended with the test.
class running_standin {
public:
    running_standin(const sandbox& box, const std::wstring& program, const settings& values)
    {
        std::map<std::wstring, std::wstring> variables;
        if (wchar_t* block = GetEnvironmentStringsW()) {
            for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) {
                std::wstring text = entry;
                std::size_t equals = text.find(L'=', 1);
                if (equals != std::wstring::npos)
                    variables[text.substr(0, equals)] = text.substr(equals + 1);
            }
            FreeEnvironmentStringsW(block);
        }
        variables[L"TMP"] = box.temp;
        variables[L"TEMP"] = box.temp;
        for (const auto& [name, value] : values)
            variables[name] = value;
        std::wstring environment;
        for (const auto& [name, value] : variables)
            environment += name + L"=" + value + L'\0';
        environment += L'\0';

        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command_line = L"\"" + program + L"\"";
        if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                            environment.data(), box.cwd.c_str(), &startup, &process_)) {
            ADD_FAILURE() << "cannot start " << narrow(program);
            return;
        }
        // The stand-in sets up its window and pipe before it first waits for input.
        WaitForInputIdle(process_.hProcess, 20000);
    }
    ~running_standin()
    {
        if (process_.hProcess == nullptr)
            return;
        TerminateProcess(process_.hProcess, 0);
        WaitForSingleObject(process_.hProcess, 5000);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    running_standin(const running_standin&) = delete;
    running_standin& operator=(const running_standin&) = delete;

    DWORD id() const { return process_.dwProcessId; }
    HWND window() const
    {
        window_search search{process_.dwProcessId, nullptr};
        EnumWindows(find_process_window, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

private:
    PROCESS_INFORMATION process_{};
};

// Minimises a window of another program and waits until it is.
void minimise(HWND window)
{
    ShowWindow(window, SW_MINIMIZE);
    for (int i = 0; i < 100 && !IsIconic(window); ++i)
        Sleep(50);
}

std::string os_user()
{
    char name[257] = {};
    DWORD size = sizeof name;
    GetUserNameA(name, &size);
    return name;
}

// --- The fixture ---

// A sandbox whose stand-ins record into its "records" folder, with an empty
// clipboard; programs that the run started are ended before the sandbox goes.
class Viewer : public ::testing::Test {
protected:
    void SetUp() override
    {
        make_folders(records);
        box.set_env(L"STANDIN_RECORD_DIR", records);
        empty_clipboard();
    }
    void TearDown() override { end_recorded_programs(records); }

    std::wstring record(const std::wstring& name) const { return records + L"\\" + name; }
    // Forget the records of one row of a table.
    void next_row()
    {
        end_recorded_programs(records);
        remove_tree(records);
        make_folders(records);
        empty_clipboard();
    }
    // A viewer of the current user, running before the link is opened.
    std::unique_ptr<running_standin> start_viewer(const std::wstring& name, const settings& values)
    {
        std::wstring folder = box.root + L"\\running\\" + name;
        box.copy_standin(L"viewer_standin", folder + L"\\vncviewer.exe");
        settings all = values;
        all[L"STANDIN_RECORD_DIR"] = records;
        all[L"STANDIN_NAME"] = name;
        return std::make_unique<running_standin>(box, folder + L"\\vncviewer.exe", all);
    }
    // The viewer that Ostrilo finds beside itself when it must start one.
    void install_viewer(const std::wstring& build = L"vncviewer_2_1_4")
    {
        box.copy_standin(build, box.program_dir + L"\\vncviewer.exe");
    }

    sandbox box;
    std::wstring records = box.root + L"\\records";
};

std::string quoted(const std::string& path)
{
    std::string text(1, '"');
    text.append(path).push_back('"');
    return text;
}

std::string pipe_message(std::string text)
{
    text.push_back('\0');
    return text;
}

// --- A running viewer: pipe ---

struct pipe_case {
    const char* behaviour;
    std::wstring url;
    std::string message;     // the bytes the viewer receives
    std::wstring pipe;       // the pipe the viewer serves
    const wchar_t* publish;  // how it publishes the pipe name, or nullptr
};

TEST_F(Viewer, RunningViewerGetsTheEncodedTextThroughThePipeAndNothingReachesTheClipboard)
{
    const pipe_case cases[] = {
        {"letters, digits and : / ? = & % stay", L"http://example.org/a/b?x=1&y=%41",
         pipe_message("http://example.org/a/b?x=1&y=%41"), default_pipe, nullptr},
        {"a blank becomes + and < > become %3c %3e", L"http://example.org/a b?q=<x>",
         pipe_message("http://example.org/a+b?q=%3cx%3e"), default_pipe, nullptr},
        {"an a-umlaut becomes %c3%a4", L"http://example.org/\u00e4", pipe_message("http://example.org/%c3%a4"),
         default_pipe, nullptr},
        {"the pipe named in the pipe-name file is used", L"http://example.org/named",
         pipe_message("http://example.org/named"), L"\\\\.\\pipe\\ostrilo-standin-named", L"1"},
    };
    install_viewer();  // never started while a viewer runs
    for (const pipe_case& c : cases) {
        next_row();
        auto viewer = start_viewer(L"running", {{L"STANDIN_WINDOW", L"1"},
                                                {L"STANDIN_WINDOW_TITLE", viewer_title},
                                                {L"STANDIN_PIPE", c.pipe},
                                                {L"STANDIN_PUBLISH_PIPE_NAME", c.publish ? c.publish : L""}});
        ASSERT_NE(viewer->window(), nullptr) << c.behaviour;
        minimise(viewer->window());

        run_result run = box.run(L"-url \"" + c.url + L"\"");

        EXPECT_EQ(run.exit_code, 0u) << c.behaviour;
        EXPECT_TRUE(run.boxes.empty()) << c.behaviour;
        EXPECT_EQ(wait_for_file(record(L"running.pipe.1")), c.message) << c.behaviour;
        // Printed last, without a line end.
        const std::string sent = "Sent (encoded) URL: '" + c.message.substr(0, c.message.size() - 1) + "'";
        EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), sent.size())), sent) << c.behaviour;
        EXPECT_EQ(clipboard_text(), std::nullopt) << c.behaviour;
        EXPECT_TRUE(run.logged("DEBUG", "vncviewer.exe is running for user '" + os_user() +
                                            "' (process id: " + std::to_string(viewer->id()) + ")"))
            << c.behaviour;
        EXPECT_FALSE(IsIconic(viewer->window())) << c.behaviour << ": the viewer window is brought back";
        EXPECT_FALSE(path_exists(record(L"vncviewer.cmdline"))) << c.behaviour << ": no second viewer started";
    }
}

// --- A running viewer: clipboard ---

struct clipboard_case {
    const char* behaviour;
    std::wstring url;
    settings viewer;
};

TEST_F(Viewer, WithoutAWorkingPipeTheClipboardHoldsNburlAndTheTextAsReceived)
{
    const clipboard_case cases[] = {
        {"the viewer serves no pipe", L"http://example.org/a b?q=<\u00e4>",
         {{L"STANDIN_WINDOW", L"1"}, {L"STANDIN_WINDOW_TITLE", viewer_title}}},
        {"the pipe-name file's line ends in a line break",
         L"http://example.org/line end",
         {{L"STANDIN_WINDOW", L"1"},
          {L"STANDIN_WINDOW_TITLE", viewer_title},
          {L"STANDIN_PIPE", L"\\\\.\\pipe\\ostrilo-standin-line-end"},
          {L"STANDIN_PUBLISH_PIPE_NAME", L"line_end"}}},
    };
    install_viewer();
    for (const clipboard_case& c : cases) {
        next_row();
        auto viewer = start_viewer(L"running", c.viewer);

        run_result run = box.run(L"-url \"" + c.url + L"\"");

        EXPECT_EQ(run.exit_code, 0u) << c.behaviour;
        EXPECT_TRUE(run.boxes.empty()) << c.behaviour;
        EXPECT_EQ(clipboard_text(), L"nburl:" + c.url) << c.behaviour;
        EXPECT_TRUE(run.logged("WARN", pipe_failed_warning)) << c.behaviour;
        EXPECT_FALSE(path_exists(record(L"running.pipe.1"))) << c.behaviour;
        EXPECT_EQ(run.out.find("Sent (encoded) URL:"), std::string::npos) << c.behaviour;
        EXPECT_FALSE(path_exists(record(L"vncviewer.cmdline"))) << c.behaviour;
    }
}

TEST_F(Viewer, ClipboardHeldByAnotherProgramIsTriedThreeTimesThenTheFatalBoxEndsTheRun)
{
    install_viewer();
    auto viewer = start_viewer(L"running", {{L"STANDIN_WINDOW", L"1"}, {L"STANDIN_WINDOW_TITLE", viewer_title}});
    clipboard_holder holder;
    ASSERT_TRUE(holder.held());

    run_result run = box.run(L"-url \"http://example.org/held\"");

    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].title, error_title);
    // The box may add the runtime's last error number behind the message.
    EXPECT_EQ(run.boxes[0].text.substr(0, std::wcslen(clipboard_blocked_text)), clipboard_blocked_text);
    EXPECT_NE(run.exit_code, 0u);
    int first_try = run.find_record("starting OpenClipboard()");
    ASSERT_GE(first_try, 0);
    int second_try = run.find_record("Clipboard did not open, try again.", first_try);
    ASSERT_GE(second_try, 0);
    int third_try = run.find_record("Clipboard did not open, try again.", second_try + 1);
    ASSERT_GE(third_try, 0);
    EXPECT_EQ(run.find_record("Clipboard did not open, try again.", third_try + 1), -1) << "only three tries";
    EXPECT_FALSE(run.logged("INFO", "Finished, goodbye."));
}

// --- A remote rule ---

enum class way { pipe, clipboard, start };

struct remote_case {
    const char* behaviour;
    const char* rule;
    way by;
    std::string expected;  // pipe message, clipboard text (UTF-8) or command-line rest
};

TEST_F(Viewer, RemoteRuleHandsOverProfileBrowserAndUrlJoinedByBars)
{
    const remote_case cases[] = {
        {"through the pipe, encoded", "remote.example.org/*|remote|firefox|work", way::pipe,
         pipe_message("work|firefox|http://remote.example.org/a+b")},
        {"on the clipboard, as received", "remote.example.org/*|remote|firefox|work", way::clipboard,
         "nburl:work|firefox|http://remote.example.org/a b"},
        {"on the started viewer's command line, encoded", "remote.example.org/*|remote|firefox|work", way::start,
         " -initialURL \"work|firefox|http://remote.example.org/a+b\""},
        {"without browser and profile the text begins with two bars", "remote.example.org/*|remote", way::pipe,
         pipe_message("||http://remote.example.org/a+b")},
    };
    install_viewer();
    for (const remote_case& c : cases) {
        next_row();
        write_file(box.program_dir + L"\\url whitelist.txt", std::string(c.rule) + "\r\n");
        std::unique_ptr<running_standin> viewer;
        if (c.by != way::start) {
            settings values = {{L"STANDIN_WINDOW", L"1"}, {L"STANDIN_WINDOW_TITLE", viewer_title}};
            if (c.by == way::pipe)
                values[L"STANDIN_PIPE"] = default_pipe;
            viewer = start_viewer(L"running", values);
        }

        run_result run = box.run(L"-url \"http://remote.example.org/a b\"");

        EXPECT_EQ(run.exit_code, 0u) << c.behaviour;
        EXPECT_TRUE(run.boxes.empty()) << c.behaviour;
        switch (c.by) {
        case way::pipe:
            EXPECT_EQ(wait_for_file(record(L"running.pipe.1")), c.expected) << c.behaviour;
            break;
        case way::clipboard:
            EXPECT_EQ(clipboard_text(), widen(c.expected)) << c.behaviour;
            break;
        case way::start:
            EXPECT_EQ(wait_for_file(record(L"vncviewer.cmdline")),
                      quoted(narrow(box.program_dir) + "\\\\vncviewer.exe") + c.expected)
                << c.behaviour;
            break;
        }
    }
}

// --- Which running program counts as the viewer ---

TEST_F(Viewer, OnlyAViewerShowingTheViewerWindowTakesTheLink)
{
    install_viewer();
    // First in the process list: a viewer of the user without a window.
    auto windowless = start_viewer(L"windowless", {});
    auto viewer = start_viewer(L"windowed", {{L"STANDIN_WINDOW", L"1"},
                                             {L"STANDIN_WINDOW_TITLE", viewer_title},
                                             {L"STANDIN_PIPE", default_pipe}});

    run_result run = box.run(L"-url \"http://example.org/second\"");

    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(wait_for_file(record(L"windowed.pipe.1")), pipe_message("http://example.org/second"));
    EXPECT_TRUE(run.logged("DEBUG", "vncviewer.exe is running for user '" + os_user() +
                                        "' (process id: " + std::to_string(viewer->id()) + ")"));
    EXPECT_FALSE(path_exists(record(L"vncviewer.cmdline")));
}

struct title_case {
    const char* viewer_settings;  // kvix.vnc beside the program, or nullptr
    const wchar_t* title;
    bool counts;
};

TEST_F(Viewer, ViewerWindowIsKnownByTheProductNameOrByAtAndDpi)
{
    const char* const acme = "ProductName=Acme Remote\r\n";
    const title_case cases[] = {
        {nullptr, L"Corvane-Pro Viewer", true}, {nullptr, L"jo@host:1 (96dpi)", true},
        {nullptr, L"jo@host:1", false},         {nullptr, L"corvane-pro viewer", false},
        {nullptr, L"Notepad", false},           {acme, L"Acme Remote Viewer", true},
        {acme, L"Corvane-Pro Viewer", false},
    };
    install_viewer();
    for (const title_case& c : cases) {
        next_row();
        DeleteFileW((box.program_dir + L"\\kvix.vnc").c_str());
        if (c.viewer_settings)
            write_file(box.program_dir + L"\\kvix.vnc", c.viewer_settings);
        auto viewer = start_viewer(L"running", {{L"STANDIN_WINDOW", L"1"},
                                                {L"STANDIN_WINDOW_TITLE", c.title},
                                                {L"STANDIN_PIPE", default_pipe}});

        run_result run = box.run(L"-url \"http://example.org/title\"");

        EXPECT_EQ(run.exit_code, 0u) << narrow(c.title);
        EXPECT_TRUE(run.boxes.empty()) << narrow(c.title);
        if (c.counts) {
            EXPECT_EQ(wait_for_file(record(L"running.pipe.1")), pipe_message("http://example.org/title"))
                << narrow(c.title);
            EXPECT_FALSE(path_exists(record(L"vncviewer.cmdline"))) << narrow(c.title);
        } else {
            EXPECT_TRUE(wait_for_file(record(L"vncviewer.cmdline"))) << narrow(c.title) << ": a viewer is started";
            EXPECT_FALSE(path_exists(record(L"running.pipe.1"))) << narrow(c.title);
        }
    }
}

// --- No running viewer: starting one ---

struct start_case {
    const char* behaviour;
    bool installed;  // vncviewer.exe in Program Files\Corvane-Pro rather than beside Ostrilo.exe
    std::wstring arguments;
    std::string initial_url_and_rest;  // what follows the quoted program path
};

TEST_F(Viewer, WithoutRunningViewerTheViewerIsStartedWithTheEncodedLinkInItsFolder)
{
    const start_case cases[] = {
        {"the encoded link in quotes ends the command line", false, L"-url \"http://example.org/a b<c>\u00e4\"",
         " -initialURL \"http://example.org/a+b%3cc%3e%c3%a4\""},
        {"-configdir and its folder in quotes follow the link", false,
         L"-url \"http://example.org/\" -configdir \"C:\\cfg dir\\\\\"",
         " -initialURL \"http://example.org/\" -configdir \"C:\\cfg dir\""},
        {"the viewer of the Program Files installation starts there", true, L"-url \"http://example.org/installed\"",
         " -initialURL \"http://example.org/installed\""},
    };
    const std::wstring installation = real_program_files() + L"\\Corvane-Pro";
    for (const start_case& c : cases) {
        next_row();
        std::unique_ptr<scoped_folder> installed;
        DeleteFileW((box.program_dir + L"\\vncviewer.exe").c_str());
        if (c.installed) {
            installed = std::make_unique<scoped_folder>(installation);
            box.copy_standin(L"vncviewer_2_1_4", installation + L"\\vncviewer.exe");
        } else {
            install_viewer();
        }

        run_result run = box.run(c.arguments);

        EXPECT_EQ(run.exit_code, 0u) << c.behaviour;
        EXPECT_TRUE(run.boxes.empty()) << c.behaviour;
        // Ostrilo's folder ends in a backslash, and the search adds one; the
        // installation folder does not.
        const std::wstring folder = c.installed ? installation : box.program_dir;
        const std::string expected =
            quoted(narrow(folder) + (c.installed ? "\\" : "\\\\") + "vncviewer.exe") + c.initial_url_and_rest;
        EXPECT_EQ(wait_for_file(record(L"vncviewer.cmdline")), expected) << c.behaviour;
        EXPECT_TRUE(run.logged("DEBUG", "Calling: " + expected)) << c.behaviour;
        std::optional<std::string> working_folder = read_file(record(L"vncviewer.cwd"));
        ASSERT_TRUE(working_folder) << c.behaviour;
        EXPECT_TRUE(same_folder(widen(*working_folder), folder)) << c.behaviour << ": " << *working_folder;
        EXPECT_TRUE(run.logged("DEBUG", "vncviewer.exe is not running for user '" + os_user() + "'"))
            << c.behaviour;
        EXPECT_EQ(clipboard_text(), std::nullopt) << c.behaviour;
        end_recorded_programs(records);
    }
}

struct selector_case {
    const char* behaviour;
    std::wstring selector_folder;        // where viewer_selector.exe lies
    std::optional<std::wstring> viewer;  // the build installed as vncviewer.exe, if any
    bool selector_started;
    std::wstring working_folder;  // of the selector, when started
};

TEST_F(Viewer, InstalledViewerSelectorIsStartedInsteadOfTheViewer)
{
    const std::wstring selector_installation = real_program_files() + L"\\Corvane-Selector";
    const selector_case cases[] = {
        {"a selector in KVIX_INSTALLPATH, in the program folder", box.install_path, L"vncviewer_2_1_4", true,
         box.program_dir},
        {"a selector in Program Files, in its own folder", selector_installation, L"vncviewer_2_1_4", true,
         selector_installation},
        {"a selector without vncviewer.exe is not started", box.install_path, std::nullopt, false, L""},
        {"a selector beside a viewer too old is not started", box.install_path, L"vncviewer_2_1_3", false, L""},
    };
    for (const selector_case& c : cases) {
        next_row();
        std::unique_ptr<scoped_folder> program_files_selector;
        if (c.selector_folder == selector_installation)
            program_files_selector = std::make_unique<scoped_folder>(selector_installation);
        DeleteFileW((box.install_path + L"\\viewer_selector.exe").c_str());
        DeleteFileW((box.program_dir + L"\\vncviewer.exe").c_str());
        box.copy_standin(L"viewer_standin", c.selector_folder + L"\\viewer_selector.exe");
        if (c.viewer)
            install_viewer(*c.viewer);

        run_result run = box.run(L"-url \"http://example.org/a b\"");

        EXPECT_EQ(run.exit_code, 0u) << c.behaviour;
        EXPECT_FALSE(path_exists(record(L"vncviewer.cmdline"))) << c.behaviour << ": the viewer is not started";
        if (c.selector_started) {
            EXPECT_TRUE(run.boxes.empty()) << c.behaviour;
            EXPECT_EQ(wait_for_file(record(L"viewer_selector.cmdline")),
                      quoted(narrow(c.selector_folder) + "\\viewer_selector.exe") +
                          " -initialURL \"http://example.org/a+b\"")
                << c.behaviour;
            std::optional<std::string> folder = read_file(record(L"viewer_selector.cwd"));
            ASSERT_TRUE(folder) << c.behaviour;
            EXPECT_TRUE(same_folder(widen(*folder), c.working_folder)) << c.behaviour << ": " << *folder;
        } else {
            EXPECT_FALSE(path_exists(record(L"viewer_selector.cmdline"))) << c.behaviour;
            ASSERT_EQ(run.boxes.size(), 1u) << c.behaviour;
            EXPECT_EQ(run.boxes[0].text, not_found_text) << c.behaviour;
        }
        end_recorded_programs(records);
    }
}

struct version_case {
    const wchar_t* build;
    const char* version;  // as logged, or nullptr without a version resource
    bool started;
};

TEST_F(Viewer, ViewerIsStartedOnlyFromVersionTwoOneFourOn)
{
    const version_case cases[] = {
        {L"vncviewer_2_1_4", "2.1.4.0", true},   {L"vncviewer_2_5_7", "2.5.7.0", true},
        {L"vncviewer_2_2_0", "2.2.0.0", true},   {L"vncviewer_3_0_0", "3.0.0.0", true},
        {L"vncviewer_2_1_3", "2.1.3.99", false}, {L"vncviewer_2_0_9", "2.0.9.0", false},
        {L"vncviewer_1_9_9", "1.9.9.0", false},  {L"viewer_standin", nullptr, false},
    };
    for (const version_case& c : cases) {
        next_row();
        install_viewer(c.build);

        run_result run = box.run(L"-url \"http://example.org/version\"");

        EXPECT_EQ(run.exit_code, 0u) << narrow(c.build);
        if (c.version) {
            EXPECT_TRUE(run.logged("TRACE", std::string("VNC Viewer Version: ") + c.version)) << narrow(c.build);
        }
        if (c.started) {
            EXPECT_TRUE(run.boxes.empty()) << narrow(c.build);
            EXPECT_TRUE(wait_for_file(record(L"vncviewer.cmdline"))) << narrow(c.build);
        } else {
            EXPECT_TRUE(run.logged("WARN", "This version is too old to use the -initialURL parameter."))
                << narrow(c.build);
            ASSERT_EQ(run.boxes.size(), 1u) << narrow(c.build);
            EXPECT_EQ(run.boxes[0].title, error_title) << narrow(c.build);
            EXPECT_EQ(run.boxes[0].text, not_found_text) << narrow(c.build);
            EXPECT_FALSE(path_exists(record(L"vncviewer.cmdline"))) << narrow(c.build);
            EXPECT_TRUE(run.logged("INFO", "Finished, goodbye.")) << narrow(c.build);
        }
    }
}

struct not_found_case {
    const char* viewer_settings;  // kvix.vnc beside the program, or nullptr
    const wchar_t* title;
    const wchar_t* text;
};

TEST_F(Viewer, NoViewerAnywhereShowsTheNotFoundBoxWithTheProductNameAndEndsNormally)
{
    const not_found_case cases[] = {
        {nullptr, error_title, not_found_text},
        {"ProductName=Acme Remote\r\n", L"Feldrun Acme Remote Browserweiche Feldrun: Fehler",
         L"Der Acme Remote Viewer wurde leider nicht gefunden."},
    };
    for (const not_found_case& c : cases) {
        next_row();
        DeleteFileW((box.program_dir + L"\\kvix.vnc").c_str());
        if (c.viewer_settings)
            write_file(box.program_dir + L"\\kvix.vnc", c.viewer_settings);

        run_result run = box.run(L"-url \"http://example.org/nowhere\"");

        EXPECT_EQ(run.exit_code, 0u) << narrow(c.text);
        ASSERT_EQ(run.boxes.size(), 1u) << narrow(c.text);
        EXPECT_EQ(run.boxes[0].title, c.title);
        EXPECT_EQ(run.boxes[0].text, c.text);
        EXPECT_TRUE(run.logged("TRACE", "open_url_in_kvix() finished")) << narrow(c.text);
        EXPECT_TRUE(run.logged("INFO", "Finished, goodbye.")) << narrow(c.text);
    }
}

// The viewer is started with an empty window title. Such a title would match
// any untitled window on the desktop, so no window is searched for: another
// program's untitled window is left alone.
TEST_F(Viewer, StartingTheViewerLeavesAnotherProgramsUntitledWindowAlone)
{
    install_viewer();
    std::wstring bystander_program = box.root + L"\\bystander\\bystander.exe";
    box.copy_standin(L"viewer_standin", bystander_program);
    running_standin bystander(box, bystander_program,
                              {{L"STANDIN_RECORD_DIR", records}, {L"STANDIN_NAME", L"bystander"},
                               {L"STANDIN_WINDOW", L"1"}});
    ASSERT_NE(bystander.window(), nullptr);

    run_result run = box.run(L"-url \"http://example.org/untitled\"");

    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(wait_for_file(record(L"vncviewer.cmdline")));
    EXPECT_FALSE(run.logged("ERROR", "CAN NOT FIND WINDOW"));
    // Let any pending show request reach the bystander before looking.
    SendMessageTimeoutW(bystander.window(), WM_NULL, 0, 0, SMTO_BLOCK, 5000, nullptr);
    EXPECT_FALSE(IsIconic(bystander.window()));
    std::string events = read_file(record(L"bystander.events")).value_or("");
    EXPECT_EQ(events.find("minimized"), std::string::npos) << events;
}

}  // namespace
