// The command line as a user or the shell gives it: help, the argument walk,
// -configdir, the scheme rewrite, the local file, the exit statuses, and the
// exe's version resource. Every link matches the rule "*|none", which ends the
// run with status 1 right after the lookup.
#include "ostrilo.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

TEST(CommandLine, EachFormGivesItsRecordsAndStatus)
{
    const std::string help = "box: Feldrun Hilfe: " + narrow(help_text()) + "\nINFO Showing Ostrilo help and exiting.";
    const std::string no_url = "INFO There is no URL. I will return.", url = "DEBUG Assuming this is the URL: <";
    const std::string configdir = "DEBUG Read configdir from command line: ",
                      replaced = "DEBUG Replaced with standard ";
    // The arguments ("%R" the sandbox folder) and the outcome.
    // clang-format off
    const std::pair<std::wstring, std::string> cases[] = {
        {L"-help", "exit 0\n" + help}, {L"/h", "exit 0\n" + help}, {L"/?", "exit 0\n" + help}, {L"-x /help", "exit 0\n" + help},
        {L"-help -url \"https://example.com/h\"", "exit 1\n!INFO Showing Ostrilo help and exiting.\n" + url + "https://example.com/h>"},
        {L"", "exit -3\nINFO Starting Ostrilo\n" + no_url}, {L"-url", "exit -3\n" + no_url}, {L"-log -configdir", "exit -3\n" + no_url},
        {L"/log -url \"https://example.com/\"", "exit 1\n" + url + "/log>"},
        {L"-configdir \"C:\\cfg\" -url x", "exit 1\n" + url + "C:\\cfg>"},
        {L"-url \"\"", "exit 1\n" + url + ">"},
        {L"-url \"https://example.com/\" -setregistry", "exit 1\n" + url + "https://example.com/>"},
        {L"-SETREGISTRY -url x", "exit 1\n" + url + "x>"},
        {L"-url x -configdir \"H:\\My Config\\\\\"", "exit 1\n" + configdir + "H:\\My Config\\"},
        {L"-url x -configdir=C:\\cfg", "exit 1\n" + configdir + "C:\\cfg\\"},
        {L"-url x -configdir \\\\\\", "exit 1\n" + configdir + "\\"},
        {L"-url x", "exit 1\nERROR Couldn't read configdir from command line!"},
        {L"-url \"kvxp://example.com/a\"", "exit 1\n" + replaced + "http(s): http://example.com/a"},
        {L"-url \"kvxps://example.com/a\"", "exit 1\n" + replaced + "http(s): https://example.com/a"},
        {L"-url \"KVXPS://example.com/\"", "exit 1\n!DEBUG Detected kvxp(s) protocol: KVXPS://example.com/"},
        {L"-url \"%R\"", "exit 1\n!INFO URL is actually a file. Opening locally."},
        {L"-url \"%R\\seite \u00e4.html\"", "exit 0\niexplore: %R\\seite \u00e4.html\nINFO URL is actually a file. Opening locally.\n"
         "INFO Finished, goodbye."},
    };
    // clang-format on
    sandbox box;
    box.put(L"url whitelist.txt", "*|none\n");
    write_file(box.root + L"\\seite \u00e4.html", "<html></html>");
    box.standin(box.standin_path("iexplore"));  // the shell finds it beside the program
    for (auto [arguments, expected] : cases) {
        for (std::size_t at; (at = arguments.find(L"%R")) != std::wstring::npos;)
            arguments.replace(at, 2, box.root);
        for (std::size_t at; (at = expected.find("%R")) != std::string::npos;)
            expected.replace(at, 2, narrow(box.root));
        const run_result run = box.run(arguments);
        SCOPED_TRACE(narrow(arguments) + "\n" + run.err);
        EXPECT_EQ(box.outcome(run, expected), expected);
        EXPECT_TRUE(
            std::regex_search(run.err, std::regex("^\\d\\d:\\d\\d:\\d\\d INFO  ostrilo:\\d+: Starting Ostrilo\r\n")));
        // The opt-in keys of the missing ostrilo.cfg are read without records.
        const std::vector<std::string> records = run.records();
        for (int i = run.find("TRACE Have set box title"); i >= 0 && i < run.find("TRACE CommandLineToArgvW set"); ++i)
            EXPECT_EQ(records[i].find("ostrilo.cfg"), std::string::npos) << records[i];
    }
}

TEST(Help, TextReadsLineByLine)
{
    // Lines a reader of the box relies on, with their exact indentation.
    const std::wstring text = help_text();
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
    EXPECT_EQ(text.find(L"\n\n\n"), std::wstring::npos);
}

TEST(Resources, ExeCarriesAGermanVersionResourceAndItsIcon)
{
    const std::wstring exe = bin_folder() + L"\\Ostrilo.exe";
    std::vector<char> block(GetFileVersionInfoSizeW(exe.c_str(), nullptr));
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    wchar_t* name = nullptr;
    UINT length = 0;
    VerQueryValueW(block.data(), L"\\StringFileInfo\\040704b0\\ProductName", reinterpret_cast<void**>(&name), &length);
    EXPECT_EQ(std::wstring(name ? name : L""), L"Ostrilo Browserweiche");
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14)), nullptr);  // the icon group
    FreeLibrary(module);
}

}  // namespace
