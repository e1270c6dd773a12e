// The command line as a user or the shell gives it: help, the argument walk,
// the URL, the scheme rewrite, the local file and the exit statuses.
#include "ostrilo.h"
#include "registry_guard.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Help, ShowsTheHelpBoxAndEndsWithZero)
{
    sandbox box;
    for (const wchar_t* arguments : {L"-help", L"/h", L"/?", L"-x /help"}) {
        run_result run = box.run(arguments);
        EXPECT_EQ(run.exit_code, 0u) << narrow(arguments);
        ASSERT_EQ(run.boxes.size(), 1u) << narrow(arguments);
        EXPECT_EQ(run.boxes[0].title, L"Feldrun Hilfe");
        EXPECT_EQ(run.boxes[0].text, help_text());
        EXPECT_TRUE(run.logged("INFO", "Showing Ostrilo help and exiting."));
    }
}

TEST(Help, TextReadsLineByLine)
{
    // A few lines that a reader of the box relies on, with their exact
    // indentation; the full text is compared with the box above.
    std::wstring text = help_text();
    for (const wchar_t* line : {L"-configdir <Pfad zur Konfigurationsordner>\n\n\tAngabe des Viewer",
                                L"\n\n-url <URL>\n\n\tURL wird zum Viewer weitergeleitet\n\n\tBeispiele:\n",
                                L"\n\n-setregistry\n\n\tWindows-Registry-Werte werden erneut gesetzt, keine Angabe\n"
                                L"\tvon Werten nötig.\n\n\t Beispiele:\n",
                                L"\n\n-resetregistry\n\n\tWindows-Registry-Werte werden gelöscht, keine Angabe\n",
                                L"\t\"<Pfad zu Ostrilo.exe>\\Ostrilo.exe\"\n\t        -url \"<URL>\" -log\n\t\n",
                                L"\tDie Log-Datei wird unter %temp%\\kvixtemp\\feldrun.log gespeichert.\n"
                                L"\tNeue Inhalte werden immer dazugefügt.\n"})
        EXPECT_NE(text.find(line), std::wstring::npos) << narrow(line);
    EXPECT_EQ(text.back(), L'\n');
    EXPECT_EQ(text.find(L"unsetregistry"), std::wstring::npos);
    EXPECT_EQ(text.find(L"\n\n\n"), std::wstring::npos);  // sections apart by one empty line
}

TEST(Help, IsNotShownWhenTheCommandLineHoldsUrl)
{
    sandbox box;
    run_result run = box.run(L"-url \"https://example.com/h/x\"");
    for (const message_box& shown : run.boxes)
        EXPECT_NE(shown.title, L"Feldrun Hilfe");
    EXPECT_FALSE(run.logged("INFO", "Showing Ostrilo help and exiting."));
    EXPECT_TRUE(run.logged("DEBUG", "Assuming this is the URL: <https://example.com/h/x>"));
}

TEST(ArgumentWalk, WithoutUrlEndsWithMinusThreeAndNoBox)
{
    sandbox box;
    for (const wchar_t* arguments : {L"", L"-url", L"-log -configdir"}) {
        run_result run = box.run(arguments);
        EXPECT_EQ(run.exit_code, 0xFFFFFFFDu) << narrow(arguments);
        EXPECT_TRUE(run.boxes.empty());
        EXPECT_TRUE(run.logged("INFO", "There is no URL. I will return.")) << narrow(arguments);
        EXPECT_TRUE(run.logged("INFO", "Starting Ostrilo"));
    }
}

struct walk_case {
    const wchar_t* arguments;
    const char* url;  // the argument taken as the URL
};

TEST(ArgumentWalk, TakesTheFirstArgumentThatDoesNotBeginWithDash)
{
    const walk_case cases[] = {
        {L"-url \"https://example.com/\"", "https://example.com/"},
        {L"/log -url \"https://example.com/\"", "/log"},
        {L"-configdir \"C:\\cfg\" -url \"https://example.com/\"", "C:\\cfg"},
        {L"-url \"\"", ""},
        {L"-url \"https://example.com/\" -setregistry", "https://example.com/"},
        {L"-SETREGISTRY -url x", "x"},
    };
    sandbox box;
    for (const walk_case& c : cases) {
        run_result run = box.run(c.arguments);
        EXPECT_TRUE(run.logged("DEBUG", std::string("Assuming this is the URL: <") + c.url + ">"))
            << narrow(c.arguments) << "\n" << run.err;
        EXPECT_TRUE(run.logged("INFO", "Finished, goodbye.")) << narrow(c.arguments);
        EXPECT_EQ(run.exit_code, 0u);
    }
}

TEST(ArgumentWalk, RegistrationSwitchesAreRecognisedBeforeTheUrl)
{
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"-setregistry", "This is setregistry. Starting set_ostrilo_registry()"},
        {L"-resetregistry", "This is resetregistry. Starting reset_ostrilo_registry()"},
        {L"-unsetregistry", "This is resetregistry. Starting reset_ostrilo_registry()"},
    };
    // The switches really register and remove; the registry is put back.
    registration_keys_guard registry;
    sandbox box;
    for (const auto& [arguments, record] : cases) {
        run_result run = box.run(arguments);
        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.logged("DEBUG", record)) << narrow(arguments) << "\n" << run.err;
        EXPECT_FALSE(run.logged("INFO", "Finished, goodbye."));
    }
}

TEST(Configdir, IsReadFromTheCommandLineWithOneTrailingBackslash)
{
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"-url x -configdir \"H:\\My Config\\\\\"", "H:\\My Config\\"},
        {L"-url x -configdir=C:\\cfg", "C:\\cfg\\"},
        {L"-url x -configdir \\\\\\", "\\"},  // only backslashes: empty folder, not none
    };
    sandbox box;
    for (const auto& [arguments, record] : cases) {
        run_result run = box.run(arguments);
        EXPECT_TRUE(run.logged("DEBUG", std::string("Read configdir from command line: ") + record))
            << narrow(arguments) << "\n" << run.err;
    }
    run_result without = box.run(L"-url x");
    EXPECT_TRUE(without.logged("ERROR", "Couldn't read configdir from command line!"));
}

TEST(SchemeRewrite, KvxpBecomesHttpInBothForms)
{
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"-url \"kvxp://example.com/a\"", "http://example.com/a"},
        {L"-url \"kvxps://example.com/a\"", "https://example.com/a"},
    };
    sandbox box;
    for (const auto& [arguments, rewritten] : cases) {
        run_result run = box.run(arguments);
        EXPECT_TRUE(run.logged("DEBUG", std::string("Replaced with standard http(s): ") + rewritten)) << run.err;
    }
    run_result upper = box.run(L"-url \"KVXPS://example.com/\"");
    EXPECT_EQ(upper.find_record("Detected kvxp(s) protocol: KVXPS://example.com/"), -1);
}

TEST(LocalFile, AReadableFileIsRecognised)
{
    sandbox box;
    std::wstring page = box.root + L"\\seite \u00e4.html";
    write_file(page, "<html></html>");
    // The file opens in Internet Explorer, which the shell finds beside the program.
    box.copy_standin(L"browser_standin", box.program_dir + L"\\iexplore.exe");
    run_result run = box.run(L"-url \"" + page + L"\"");
    EXPECT_TRUE(run.logged("INFO", "URL is actually a file. Opening locally.")) << run.err;
    run_result folder = box.run(L"-url \"" + box.root + L"\"");
    EXPECT_FALSE(folder.logged("INFO", "URL is actually a file. Opening locally."));
}

TEST(LogRecords, StandardErrorShowsTimeLevelUnitAndLine)
{
    sandbox box;
    run_result run = box.run(L"");
    std::vector<log_record> records = run.records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].level, "INFO");
    EXPECT_EQ(records[0].unit, "ostrilo");
    EXPECT_GT(records[0].line, 0);
    EXPECT_EQ(records[0].message, "Starting Ostrilo");
    EXPECT_EQ(records[0].time.size(), 8u);
    EXPECT_NE(run.err.find(" INFO  ostrilo:"), std::string::npos);  // padded to five columns
    EXPECT_NE(run.err.find(" DEBUG ostrilo:"), std::string::npos);
    EXPECT_EQ(run.err.substr(run.err.size() - 2), "\r\n");
}

}  // namespace

namespace {

std::wstring version_string(const std::vector<char>& block, const wchar_t* name)
{
    void* text = nullptr;
    UINT length = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040704b0\\") + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &text, &length) || length == 0)
        return {};
    return static_cast<const wchar_t*>(text);
}

TEST(Resources, ExeCarriesAGermanVersionResourceAndItsIcon)
{
    std::wstring exe = bin_folder() + L"\\Ostrilo.exe";
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 1u);
    EXPECT_EQ(version_string(block, L"ProductName"), L"Ostrilo Browserweiche");
    EXPECT_NE(version_string(block, L"FileDescription").find(L"Browserweiche für"), std::wstring::npos);
    EXPECT_EQ(version_string(block, L"FileVersion"), version_string(block, L"ProductVersion"));

    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14)), nullptr);  // IDI_ICON group
    FreeLibrary(module);
}

}  // namespace
