// The viewer hand-off's own decisions: the URL encoding and (under Windows) which
// process and window count as the current user's viewer, and the pipe name.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "viewer.h"

namespace {

// Each byte on its own: letters, digits and the kept punctuation pass, the
// blank becomes "+", every other byte "%" and two lower-case hex digits.
TEST(UrlEncode, MapsEveryByteByItsClass) {
    const std::string kept = "!#$%&'()*+,-./:;=?@_~\\|";
    for (int value = 1; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const bool alphanumeric =
            (value >= '0' && value <= '9') || (value >= 'A' && value <= 'Z') || (value >= 'a' && value <= 'z');
        char expected[4] = {value == ' ' ? '+' : byte, '\0'};
        if (value != ' ' && !alphanumeric && kept.find(byte) == std::string::npos) {
            std::snprintf(expected, sizeof expected, "%%%02x", value);
        }
        EXPECT_EQ(url_encode(std::string(1, byte)), expected) << "byte " << value;
    }
}

}  // namespace

#ifdef _WIN32
// These need real processes and windows, so they run under Windows (or Wine).
#include <windows.h>

#include <cstring>
#include <vector>

#include "run_context.h"
#include "viewer_win32.h"

namespace {

// The run these tests share, as one process of Ostrilo.exe keeps it.
run_context run;

// Hidden top-level windows of this process, met by EnumWindows in the order
// given: a new window goes to the top of the Z-order, so they are made last
// to first.
struct test_windows {
    explicit test_windows(const std::vector<std::string>& titles) : handles(titles.size()) {
        WNDCLASSA window_class{};
        window_class.lpfnWndProc = DefWindowProcA;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = "ViewerUnitTestWindow";
        RegisterClassA(&window_class);
        for (size_t i = titles.size(); i-- > 0;) {
            handles[i] = CreateWindowExA(0, window_class.lpszClassName, titles[i].c_str(), WS_OVERLAPPED, 0, 0, 50, 50,
                                         nullptr, nullptr, window_class.hInstance, nullptr);
        }
    }
    ~test_windows() {
        for (HWND window : handles) DestroyWindow(window);
    }
    std::vector<HWND> handles;
};

// The product name is the default one: the test has no viewer settings file.
TEST(ViewerWindow, TakesTheWindowWhoseTitleNamesTheViewer) {
    const struct {
        const char* behaviour;
        std::vector<std::string> titles;  // in enumeration order
        int expected;                     // index of the window taken, -1 for none
    } cases[] = {
        {"a title naming the product is taken", {"Notepad", "Corvane-Pro Viewer 2.5"}, 1},
        {"the first product-name window wins", {"Corvane-Pro A", "Corvane-Pro B"}, 0},
        {"an old-style title with @ and dpi is taken", {"Notepad", "jo@host 96dpi"}, 1},
        {"a later product-name window replaces an old-style one", {"jo@host 96dpi", "Corvane-Pro"}, 1},
        {"of several old-style windows the last is taken", {"a@b dpi", "c@d dpi", "Notepad"}, 1},
        {"@ and dpi must stand in the same title", {"jo@host", "96dpi"}, -1},
        {"the product name is matched with its letter case", {"corvane-pro viewer", "CORVANE-PRO"}, -1},
        {"a product name ending at the 127th character is seen", {std::string(116, 'x') + "Corvane-Pro"}, 0},
        {"a product name beyond the 127th character is not seen", {std::string(117, 'x') + "Corvane-Pro"}, -1},
    };
    for (const auto& row : cases) {
        const test_windows windows(row.titles);
        EXPECT_EQ(get_viewer_main_window_handle(run, GetCurrentProcessId(), true),
                  row.expected < 0 ? nullptr : windows.handles[static_cast<size_t>(row.expected)])
            << row.behaviour;
    }
    get_viewer_main_window_handle(run, 0, true);
}

// This test program, showing a viewer window, stands in for the running
// viewer: it is looked for by its own file name. Under Wine every process
// belongs to the one user, so "another user's viewer" is one looked for under
// a name that is not the current user's.
TEST(FindProcessByName, FindsOnlyTheCurrentUsersProcessOfThatName) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string name = std::strrchr(path, '\\') + 1;
    const std::string me = get_os_user_name(run);
    ASSERT_FALSE(me.empty());
    const struct {
        const char* behaviour;
        std::string name;
        std::optional<std::string> user;
        bool found;
    } cases[] = {
        {"the current user's process is found", name, me, true},
        {"without a user the first process of the name is found", name, std::nullopt, true},
        {"another user's process is not found", name, std::string("someone_else"), false},
        {"a name that only begins the program's name is not it", name.substr(0, name.size() - 4), me, false},
    };
    const test_windows windows({"Corvane-Pro Viewer"});
    for (const auto& row : cases) {
        get_viewer_main_window_handle(run, 0, true);
        EXPECT_EQ(find_process_by_name(run, row.name.c_str(), row.user), row.found ? GetCurrentProcessId() : 0ul)
            << row.behaviour;
    }
    get_viewer_main_window_handle(run, 0, true);
}

TEST(PipeName, IsTheFirstLineOfThePipeNameFileAsReadOrTheStandardName) {
    const std::string standard = "\\\\.\\pipe\\feldrun-pipe";
    const struct {
        const char* behaviour;
        std::string file;  // content of the pipe-name file
        std::string name;
    } cases[] = {
        {"an empty file gives the standard name", "", standard},
        {"the name is taken as it stands, blanks kept", " \\\\.\\pipe\\mine", " \\\\.\\pipe\\mine"},
        {"only the first line counts, its line end kept", "\\\\.\\pipe\\a\r\n\\\\.\\pipe\\b", "\\\\.\\pipe\\a\n"},
        {"a line is read up to 4094 bytes", std::string(5000, 'p'), std::string(4094, 'p')},
    };
    const std::optional<std::string> path = get_pipe_name_file_path(run);
    ASSERT_TRUE(path);
    for (const auto& row : cases) {
        FILE* file = std::fopen(path->c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(row.file.data(), 1, row.file.size(), file);
        std::fclose(file);
        EXPECT_EQ(get_pipe_name(run), row.name) << row.behaviour;
    }
    DeleteFileA(path->c_str());
}

}  // namespace
#endif
