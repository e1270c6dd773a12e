// The viewer hand-off's own decisions: the URL encoding, which process and
// window count as the current user's viewer, and the pipe name.
#include "viewer.h"
#include "viewer_win32.h"
#include "run_context.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The run these tests share, as one process of Ostrilo.exe keeps it.
run_context run;

// Letters, digits and the kept punctuation pass, the blank becomes "+",
// every other byte "%" and two lower-case hex digits.
TEST(UrlEncode, MapsEveryByteByItsClass)
{
    const std::string kept = "!#$%&'()*+,-./:;=?@_~\\|";
    for (int value = 1; value < 256; ++value) {
        char expected[4] = {value == ' ' ? '+' : static_cast<char>(value), '\0'};
        if (value != ' ' && !std::isalnum(value) && kept.find(static_cast<char>(value)) == std::string::npos)
            std::snprintf(expected, sizeof expected, "%%%02x", value);
        EXPECT_EQ(url_encode(std::string(1, static_cast<char>(value))), expected) << "byte " << value;
    }
}

// Hidden top-level windows of this process, met by EnumWindows in the order
// given: a new window goes to the top of the Z-order, so they are made last to first.
struct test_windows {
    explicit test_windows(const std::vector<std::string>& titles) : handles(titles.size())
    {
        for (std::size_t i = titles.size(); i-- > 0;)
            handles[i] = CreateWindowExA(0, "STATIC", titles[i].c_str(), WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                                         nullptr, nullptr);
    }
    ~test_windows()
    {
        for (HWND window : handles)
            DestroyWindow(window);
        get_viewer_main_window_handle(run, 0, true);  // forget the window found
    }
    std::vector<HWND> handles;
};

// The product name is the default one: the test has no viewer settings file.
TEST(ViewerWindow, TakesTheWindowWhoseTitleNamesTheViewer)
{
    const std::pair<std::vector<std::string>, int> cases[] = {
        // titles in enumeration order, the one taken
        {{"Notepad", "Corvane-Pro Viewer 2.5"}, 1},
        {{"Corvane-Pro A", "Corvane-Pro B"}, 0},
        {{"Notepad", "jo@host 96dpi"}, 1},       // an old-style title with @ and dpi
        {{"jo@host 96dpi", "Corvane-Pro"}, 1},   // a later product-name window replaces it
        {{"a@b dpi", "c@d dpi", "Notepad"}, 1},  // of several old-style windows the last
        {{"jo@host", "96dpi"}, -1},
        {{"corvane-pro viewer", "CORVANE-PRO"}, -1},
        {{std::string(116, 'x') + "Corvane-Pro"}, 0},  // the name ends at the 127th character
        {{std::string(117, 'x') + "Corvane-Pro"}, -1},
    };
    for (const auto& [titles, taken] : cases) {
        const test_windows windows(titles);
        EXPECT_EQ(get_viewer_main_window_handle(run, GetCurrentProcessId(), true),
                  taken < 0 ? nullptr : windows.handles[static_cast<std::size_t>(taken)])
            << titles[0];
    }
}

// This test program, showing a viewer window, stands in for the running
// viewer. Under Wine every process belongs to the one user, so "another
// user's viewer" is one looked for under a name that is not the current user's.
TEST(FindProcessByName, FindsOnlyTheCurrentUsersProcessOfThatName)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string name = std::strrchr(path, '\\') + 1, me = get_os_user_name(run);
    const std::tuple<std::string, std::optional<std::string>, DWORD> cases[] = {
        {name, me, GetCurrentProcessId()},
        {name, std::nullopt, GetCurrentProcessId()},
        {name, std::string("someone_else"), 0},
        {name.substr(0, name.size() - 4), me, 0},
    };
    const test_windows windows({"Corvane-Pro Viewer"});
    for (const auto& [program, user, found] : cases) {
        get_viewer_main_window_handle(run, 0, true);
        EXPECT_EQ(find_process_by_name(run, program.c_str(), user), found) << program << " " << user.value_or("(none)");
    }
}

TEST(PipeName, IsTheFirstLineOfThePipeNameFileAsReadOrTheStandardName)
{
    const std::pair<std::string, std::string> cases[] = {
        // the file, the name
        {"", "\\\\.\\pipe\\feldrun-pipe"},
        {" \\\\.\\pipe\\mine", " \\\\.\\pipe\\mine"},
        {"\\\\.\\pipe\\a\r\n\\\\.\\pipe\\b", "\\\\.\\pipe\\a\n"},  // its line end kept
        {std::string(5000, 'p'), std::string(4094, 'p')},
    };
    const std::optional<std::string> path = get_pipe_name_file_path(run);
    ASSERT_TRUE(path);
    for (const auto& [content, name] : cases) {
        FILE* file = std::fopen(path->c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
        EXPECT_EQ(get_pipe_name(run), name);
    }
    DeleteFileA(path->c_str());
}

}  // namespace
