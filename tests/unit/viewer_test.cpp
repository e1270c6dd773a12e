// The viewer hand-off's own decisions: the URL encoding, and (under Windows)
// which running viewer counts as the current user's.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "viewer.h"

namespace {

struct encode_case {
    const char* behaviour;
    std::string input;
    std::string expected;
};

const encode_case encode_cases[] = {
    {"empty text stays empty", "", ""},
    {"letters and digits pass", "AZaz09", "AZaz09"},
    {"a plain URL passes unchanged", "https://example.org/a/b?x=1&y=2#top", "https://example.org/a/b?x=1&y=2#top"},
    {"every kept punctuation mark passes", "!#$%&'()*+,-./:;=?@_~", "!#$%&'()*+,-./:;=?@_~"},
    {"backslash and vertical bar pass", "a\\b|c", "a\\b|c"},
    {"a remote hand-off text keeps its two bars", "work|firefox|http://a.b/c d",
     "work|firefox|http://a.b/c+d"},
    {"a space becomes a plus sign", "a b  c", "a+b++c"},
    {"percent and plus signs pass, so a+b and a%2bb stay apart", "a+b a%2bb", "a+b+a%2bb"},
    {"angle brackets become %3c and %3e", "<b>", "%3cb%3e"},
    {"double quote and grave accent are escaped", "\"`", "%22%60"},
    {"brackets, caret and braces are escaped", "[]^{}", "%5b%5d%5e%7b%7d"},
    {"control bytes are escaped with two digits", "\x01\t\n\r\x1f", "%01%09%0a%0d%1f"},
    {"DEL is escaped", "\x7f", "%7f"},
    {"UTF-8 a-umlaut becomes %c3%a4 in lower-case hex", "\xc3\xa4", "%c3%a4"},
    {"the highest byte is escaped", "\xff", "%ff"},
    {"a URL with a blank, brackets and an umlaut", "http://h/s?q=a b<c>\xc3\xa4",
     "http://h/s?q=a+b%3cc%3e%c3%a4"},
};

TEST(UrlEncode, MapsEachByteByTheTable) {
    for (const auto& row : encode_cases) {
        EXPECT_EQ(url_encode(row.input), row.expected) << row.behaviour;
    }
}

// Whatever its class, each byte's output names that byte: the byte itself,
// "+" for the blank, or "%" and two lower-case hex digits of its value.
TEST(UrlEncode, EveryByteEncodesToItselfPlusOrItsLowerCaseHex) {
    for (int value = 1; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const std::string encoded = url_encode(std::string(1, byte));
        if (value == ' ') {
            EXPECT_EQ(encoded, "+");
        } else if (encoded.size() == 1) {
            EXPECT_EQ(encoded[0], byte) << "byte " << value;
        } else {
            ASSERT_EQ(encoded.size(), 3u) << "byte " << value;
            EXPECT_EQ(encoded[0], '%');
            EXPECT_EQ(std::stoi(encoded.substr(1), nullptr, 16), value) << "byte " << value;
            EXPECT_EQ(encoded.find_first_of("ABCDEF"), std::string::npos) << "byte " << value;
        }
    }
}

}  // namespace

#include "viewer_decisions.h"

namespace {

struct version_case {
    unsigned major, minor, patch;
    bool accepted;
};

// -initialURL is understood from 2.1.4 on; every later version takes it too.
const version_case version_cases[] = {
    {2, 1, 4, true},   {2, 1, 5, true},   {2, 5, 7, true},  {2, 2, 0, true},   {2, 3, 1, true},
    {3, 0, 0, true},   {10, 0, 0, true},  {2, 1, 3, false}, {2, 0, 9, false},  {2, 0, 4, false},
    {1, 9, 9, false},  {1, 99, 99, false}, {0, 0, 0, false}, {2, 1, 0, false},
};

TEST(ViewerVersion, AcceptsTwoOneFourAndEveryLaterVersion) {
    for (const auto& row : version_cases) {
        EXPECT_EQ(viewer_version_takes_initial_url(row.major, row.minor, row.patch), row.accepted)
            << row.major << "." << row.minor << "." << row.patch;
    }
}

}  // namespace

#ifdef _WIN32
// Which running viewer and which of its windows count. These need real
// processes and windows, so they run under Windows (or Wine) only.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "viewer_win32.h"

namespace {

// Top-level windows of this process, hidden, created so that EnumWindows
// meets them in the order given (a new window goes to the top of the
// Z-order, so they are created last to first).
class test_windows {
public:
    explicit test_windows(const std::vector<std::string>& titles) : windows_(titles.size()) {
        WNDCLASSA window_class{};
        window_class.lpfnWndProc = DefWindowProcA;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = "ViewerUnitTestWindow";
        RegisterClassA(&window_class);
        for (size_t i = titles.size(); i-- > 0;) {
            windows_[i] = CreateWindowExA(0, window_class.lpszClassName, titles[i].c_str(), WS_OVERLAPPED, 0, 0, 50,
                                          50, nullptr, nullptr, window_class.hInstance, nullptr);
        }
    }
    ~test_windows() {
        for (HWND window : windows_) DestroyWindow(window);
    }
    HWND at(size_t i) const { return windows_[i]; }

private:
    std::vector<HWND> windows_;
};

struct window_case {
    const char* behaviour;
    std::vector<std::string> titles;  // in enumeration order
    int expected;                     // index of the window taken, -1 for none
};

const window_case window_cases[] = {
    {"a title naming the product is taken", {"Notepad", "Corvane-Pro Viewer 2.5"}, 1},
    {"the first product-name window wins", {"Corvane-Pro A", "Corvane-Pro B"}, 0},
    {"an old-style title with @ and dpi is taken without a product name", {"Notepad", "jo@host 96dpi"}, 1},
    {"a later product-name window replaces an old-style one", {"jo@host 96dpi", "Corvane-Pro"}, 1},
    {"an old-style window after a product-name window is never seen", {"Corvane-Pro", "jo@host 96dpi"}, 0},
    {"of several old-style windows the last is taken", {"a@b dpi", "c@d dpi", "Notepad"}, 1},
    {"@ and dpi must stand in the same title", {"jo@host", "96dpi"}, -1},
    {"the product name is matched with its letter case", {"corvane-pro viewer", "CORVANE-PRO"}, -1},
    {"no window of the process names the viewer", {"Notepad", ""}, -1},
    {"a product name ending at the 127th character is seen", {std::string(116, 'x') + "Corvane-Pro"}, 0},
    {"a product name beyond the 127th character is not seen", {std::string(117, 'x') + "Corvane-Pro"}, -1},
};

// The product name is the default one: the test has no viewer settings file.
TEST(ViewerWindow, TakesTheWindowWhoseTitleNamesTheViewer) {
    for (const auto& row : window_cases) {
        const test_windows windows(row.titles);
        const HWND found = get_viewer_main_window_handle(GetCurrentProcessId(), true);
        EXPECT_EQ(found, row.expected < 0 ? nullptr : windows.at(static_cast<size_t>(row.expected)))
            << row.behaviour;
    }
    get_viewer_main_window_handle(GetCurrentProcessId(), true);
}

TEST(ViewerWindow, KeptWindowIsReturnedForAnyProcessUntilAForcedReload) {
    const test_windows windows({"Corvane-Pro"});
    ASSERT_EQ(get_viewer_main_window_handle(GetCurrentProcessId(), true), windows.at(0));
    // Process 0 owns no window; the kept handle is returned all the same.
    EXPECT_EQ(get_viewer_main_window_handle(0, false), windows.at(0));
    EXPECT_EQ(get_viewer_main_window_handle(0, true), nullptr);
}

// A copy of the viewer stand-in with a window of the given title, ended when
// the test ends. It runs under a name of its own, so that no viewer of another
// test that runs at the same time can be taken for it.
const char standin_copy_name[] = "unitviewer.exe";

class running_viewer {
public:
    explicit running_viewer(const char* title) {
        char program[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, program, MAX_PATH);
        std::string folder = program;
        folder.erase(folder.find_last_of('\\') + 1);
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        copy_folder_ = std::string(temp) + "viewer_unit_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(copy_folder_.c_str(), nullptr);
        copy_ = copy_folder_ + "\\" + standin_copy_name;
        if (!CopyFileA((folder + "viewer_standin.exe").c_str(), copy_.c_str(), FALSE)) return;
        SetEnvironmentVariableA("STANDIN_WINDOW", "1");
        SetEnvironmentVariableA("STANDIN_WINDOW_TITLE", title);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "\"" + copy_ + "\"";
        if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, copy_folder_.c_str(),
                           &startup, &process_)) {
            WaitForInputIdle(process_.hProcess, INFINITE);
        }
        SetEnvironmentVariableA("STANDIN_WINDOW", nullptr);
        SetEnvironmentVariableA("STANDIN_WINDOW_TITLE", nullptr);
    }
    ~running_viewer() {
        if (process_.hProcess != nullptr) {
            TerminateProcess(process_.hProcess, 0);
            WaitForSingleObject(process_.hProcess, INFINITE);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        DeleteFileA(copy_.c_str());
        RemoveDirectoryA(copy_folder_.c_str());
    }
    unsigned long id() const { return process_.dwProcessId; }

private:
    std::string copy_folder_;
    std::string copy_;
    PROCESS_INFORMATION process_{};
};

std::string swap_letter_case(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Under Wine every process belongs to the one user, so "another user's
// viewer" is a viewer looked for under a name that is not the current one.
TEST(FindProcessByName, FindsOnlyTheCurrentUsersViewerByItsExactName) {
    const running_viewer viewer("Corvane-Pro Viewer");
    ASSERT_NE(viewer.id(), 0u) << "the viewer stand-in did not start";
    const std::string me = get_os_user_name();
    ASSERT_FALSE(me.empty());

    struct row {
        const char* behaviour;
        const char* name;
        std::optional<std::string> user;
        bool found;
    };
    const row rows[] = {
        {"the current user's viewer is found", "unitviewer.exe", me, true},
        {"without a user the first viewer of anyone is found", "unitviewer.exe", std::nullopt, true},
        {"another user's viewer is not found", "unitviewer.exe", std::string("someone_else"), false},
        {"a user name in other letter case is another user", "unitviewer.exe", swap_letter_case(me), false},
        {"the program name is matched with its letter case", "UNITVIEWER.EXE", me, false},
        {"a name that only begins the program's name is not it", "unitviewer", me, false},
        {"an empty user name is nobody", "unitviewer.exe", std::string(), false},
    };
    for (const auto& r : rows) {
        get_viewer_main_window_handle(0, true);
        EXPECT_EQ(find_process_by_name(r.name, r.user), r.found ? viewer.id() : 0ul) << r.behaviour;
    }
    get_viewer_main_window_handle(0, true);
}

TEST(FindProcessByName, SkipsTheUsersViewerThatShowsNoViewerWindow) {
    const running_viewer viewer("Notepad");
    ASSERT_NE(viewer.id(), 0u) << "the viewer stand-in did not start";
    get_viewer_main_window_handle(0, true);
    EXPECT_EQ(find_process_by_name("unitviewer.exe", get_os_user_name()), 0ul);
}

struct pipe_name_case {
    const char* behaviour;
    std::optional<std::string> file;  // content of the pipe-name file, or none for no file
    std::string name;
};

TEST(PipeName, IsTheFirstLineOfThePipeNameFileAsReadOrTheStandardName)
{
    const std::string standard = "\\\\.\\pipe\\feldrun-pipe";
    const pipe_name_case cases[] = {
        {"no file gives the standard name", std::nullopt, standard},
        {"an empty file gives the standard name", std::string(), standard},
        {"the name without line end is taken", std::string("\\\\.\\pipe\\mine"), "\\\\.\\pipe\\mine"},
        {"only the first line counts, its line end kept", std::string("\\\\.\\pipe\\a\r\n\\\\.\\pipe\\b"),
         "\\\\.\\pipe\\a\n"},
        {"blanks are not trimmed", std::string(" \\\\.\\pipe\\c "), " \\\\.\\pipe\\c "},
        {"a line is read up to 4094 bytes", std::string(5000, 'p'), std::string(4094, 'p')},
    };
    const std::optional<std::string> path = get_pipe_name_file_path();
    ASSERT_TRUE(path);
    for (const auto& row : cases) {
        DeleteFileA(path->c_str());
        if (row.file) {
            FILE* file = std::fopen(path->c_str(), "wb");
            ASSERT_NE(file, nullptr);
            std::fwrite(row.file->data(), 1, row.file->size(), file);
            std::fclose(file);
        }
        EXPECT_EQ(get_pipe_name(), row.name) << row.behaviour;
    }
    DeleteFileA(path->c_str());
}

TEST(ProcessUser, ReadsTheOwnerOfTheOwnProcessAndNothingWithoutAToken) {
    std::string user = "stale";
    std::string domain = "stale";
    EXPECT_EQ(get_user_from_token(nullptr, user, domain), 0);
    EXPECT_EQ(user, "");
    EXPECT_EQ(domain, "");
    ASSERT_EQ(get_process_user(GetCurrentProcessId(), user, domain), 1);
    EXPECT_EQ(user, get_os_user_name());
}

}  // namespace
#endif
