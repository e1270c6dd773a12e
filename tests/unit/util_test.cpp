// The string, path and regex utilities.
#include "nb_utils.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const char* const configdir_pattern = "-configdir[= ]+((\".+?\")|([^ ]+))";

struct capture_case {
    const char* subject;
    std::optional<std::string> group1;
};

TEST(RegexCapture, ConfigdirPatternTakesQuotedOrBareFolder)
{
    const capture_case cases[] = {
        {"-url \"x\" -configdir \"H:\\My Config\\\" -log", "\"H:\\My Config\\\""},
        {"-configdir \"a b\" \"c d\"", "\"a b\""},  // lazy: up to the first closing quote
        {"-configdir=C:\\cfg -log", "C:\\cfg"},
        {"-configdir = =C:\\cfg", "C:\\cfg"},
        {"x-configdir D:\\y", "D:\\y"},  // unanchored
        {"-configdir", std::nullopt},
        {"-configdirC:\\x", std::nullopt},  // a blank or "=" must follow
        {"-url \"https://example.com/\"", std::nullopt},
        {"-configdir \"\" rest", "\"\""},  // an empty quoted pair is taken as a bare run
    };
    for (const capture_case& c : cases)
        EXPECT_EQ(regex_capture(c.subject, configdir_pattern, 1), c.group1) << c.subject;
}

TEST(RegexCapture, BadPatternAndEmptyGroupGiveNone)
{
    EXPECT_EQ(regex_capture("abc", "(", 1), std::nullopt);
    EXPECT_EQ(regex_capture("abc", "a()b", 1), std::nullopt);
    EXPECT_EQ(regex_capture("abc", "(x)|(b)", 1), std::nullopt);  // unset group
    EXPECT_EQ(regex_capture("abc", "(x)|(b)", 2), std::optional<std::string>("b"));
}

TEST(Trim, CutsAtFirstLineBreakAndStripsWhiteSpace)
{
    const std::pair<const char*, const char*> cases[] = {
        {" \tword \t\r\n", "word"},
        {"before\rafter", "before"},
        {"  a b  \n c", "a b"},
        {"   ", ""},
        {"", ""},
        {"\v\fx\v\f", "x"},
        {"\xA0x\xA0", "\xA0x\xA0"},  // bytes from 0x80 on are never white space
        {"# note", "# note"},
    };
    for (const auto& [line, kept] : cases)
        EXPECT_EQ(trim(line), kept) << line;
}

TEST(StartsEndsWith, CompareBytesWithoutReadingPastTheText)
{
    EXPECT_TRUE(starts_with("kvxps://x", "kvxps://"));
    EXPECT_FALSE(starts_with("kvx", "kvxps://"));
    EXPECT_FALSE(starts_with("KVXP://x", "kvxp://"));
    EXPECT_TRUE(starts_with("", ""));
    EXPECT_TRUE(ends_with("\\", "\\"));
    EXPECT_FALSE(ends_with("", "\\"));
    EXPECT_TRUE(ends_with("abc", ""));
    EXPECT_FALSE(ends_with("c", "abc"));
}

TEST(FindIgnoringCase, GivesThePositionInsideTheHaystack)
{
    EXPECT_EQ(find_ignoring_case("xxie.http.x", "IE.HTTP"), std::optional<std::size_t>(2));
    EXPECT_EQ(find_ignoring_case("IE.HTT", "IE.HTTP"), std::nullopt);  // haystack ends first
    EXPECT_EQ(find_ignoring_case("", "a"), std::nullopt);
    EXPECT_EQ(find_ignoring_case("abc", ""), std::optional<std::size_t>(0));
    EXPECT_EQ(find_ignoring_case("\xE4\xC4", "\xC4"), std::optional<std::size_t>(1));  // only ASCII folds
}

TEST(ReplaceAll, ReplacesEveryOccurrenceWithoutOverlap)
{
    EXPECT_EQ(replace_all("Feldrun Corvane-Pro Browserweiche", " ", "%20"), "Feldrun%20Corvane-Pro%20Browserweiche");
    EXPECT_EQ(replace_all("nothing", " ", "%20"), "nothing");
    EXPECT_EQ(replace_all("a  b", " ", "%20"), "a%20%20b");
    EXPECT_EQ(replace_all("aaa", "aa", "b"), "ba");
}

TEST(CharToWchar, WidensEachByte)
{
    EXPECT_EQ(char_to_wchar("\xC3\xBC"), std::wstring(L"\u00C3\u00BC"));
    EXPECT_EQ(char_to_wchar("a|b"), L"a|b");
}

TEST(Conversions, RoundTripUtf8AndUtf16)
{
    EXPECT_EQ(utf8_to_wide("\xC3\xA4-\xE2\x82\xAC"), std::optional<std::wstring>(L"\u00E4-\u20AC"));
    EXPECT_EQ(wide_to_utf8(L"\u00E4-\u20AC"), std::optional<std::string>("\xC3\xA4-\xE2\x82\xAC"));
    EXPECT_EQ(utf8_to_wide(""), std::optional<std::wstring>(L""));
}

TEST(FormatBounded, CutsAndAlwaysTerminates)
{
    EXPECT_EQ(format_bounded(6, "%s|%s", "abc", "def"), "abc|d");
    EXPECT_EQ(format_bounded(0, "%s", "abc"), "");
    EXPECT_EQ(format_bounded(100, "%s %ls", "a", L"b"), "a b");
    EXPECT_EQ(format_wide_bounded(4, L"%ls%hs", L"ab", "cd"), L"abc");
    EXPECT_EQ(format_wide_bounded(100, L"%hs Feldrun: Fehler", "X"), L"X Feldrun: Fehler");
    EXPECT_EQ(format_unbounded("%s\\", "C:\\cfg"), "C:\\cfg\\");
    EXPECT_EQ(format_unbounded("%-5s|", "INFO"), "INFO |");
}

class FileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"ostrilo-util-test";
        CreateDirectoryW(folder_.c_str(), nullptr);
        folder_utf8_ = *wide_to_utf8(folder_);
    }
    void TearDown() override
    {
        for (const char* name : {"a.txt", "b.txt", "\xC3\xA4.txt"})
            DeleteFileW(utf8_to_wide(folder_utf8_ + "\\" + name)->c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::string path(const char* name) const { return folder_utf8_ + "\\" + name; }
    static void write(const std::string& path, const char* text)
    {
        FILE* file = _wfopen(utf8_to_wide(path)->c_str(), L"wb");
        ASSERT_NE(file, nullptr);
        std::fputs(text, file);
        std::fclose(file);
    }
    static std::string read(const std::string& path)
    {
        FILE* file = _wfopen(utf8_to_wide(path)->c_str(), L"rb");
        if (!file)
            return "<missing>";
        char buffer[256] = "";
        std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
        std::fclose(file);
        return std::string(buffer, n);
    }
    std::wstring folder_;
    std::string folder_utf8_;
};

TEST_F(FileTest, FileExistsOnlyForReadableFiles)
{
    write(path("\xC3\xA4.txt"), "x");
    EXPECT_TRUE(file_exists(path("\xC3\xA4.txt")));  // UTF-8 path
    EXPECT_FALSE(file_exists(folder_utf8_));         // a folder cannot be opened as a file
    EXPECT_FALSE(file_exists(path("missing.txt")));
    EXPECT_FALSE(file_exists(std::optional<std::string>()));
}

TEST_F(FileTest, MoveFileOverwritesOnlyWhenAsked)
{
    write(path("a.txt"), "new");
    write(path("b.txt"), "old");
    move_file(path("a.txt"), path("b.txt"), false);
    EXPECT_EQ(read(path("a.txt")), "new");
    EXPECT_EQ(read(path("b.txt")), "old");
    move_file(path("a.txt"), path("b.txt"), true);
    EXPECT_EQ(read(path("a.txt")), "<missing>");
    EXPECT_EQ(read(path("b.txt")), "new");
}

TEST(ProgramFolder, KeepsTheTrailingBackslashAndGivesTheFullLength)
{
    char buffer[8192];
    unsigned long length = get_program_folder(buffer, sizeof buffer);
    char full[8192];
    DWORD full_length = GetModuleFileNameA(nullptr, full, sizeof full);
    EXPECT_EQ(length, full_length);
    std::string folder = buffer;
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_EQ(std::string(full).rfind(folder, 0), 0u);
    EXPECT_EQ(std::string(full).substr(folder.size()), "unit_util.exe");
    EXPECT_EQ(program_folder(), folder);
}

}  // namespace
