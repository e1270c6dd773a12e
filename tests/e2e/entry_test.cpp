// The command line as a user or the shell gives it: help, the argument walk,
// -configdir, the scheme rewrite, the local file, the exit statuses, and the
// exe's version resource. Every link matches the rule "*|none", which ends the
// run with status 1 right after the lookup.
#include "ostrilo.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

struct command_line_case {
    std::wstring arguments;  // "%ROOT%" stands for the sandbox folder
    DWORD status;
    std::vector<std::string> records;  // "LEVEL message"; with "!" in front: not logged
};

TEST(CommandLine, EachFormGivesItsRecordsAndStatus)
{
    const std::string help = "INFO Showing Ostrilo help and exiting.", no_url = "INFO There is no URL. I will return.";
    const std::string url = "DEBUG Assuming this is the URL: <", configdir = "DEBUG Read configdir from command line: ";
    const std::string local_file = "INFO URL is actually a file. Opening locally.";
    const command_line_case cases[] = {
        {L"-help", 0, {help}},
        {L"/h", 0, {help}},
        {L"/?", 0, {help}},
        {L"-x /help", 0, {help}},
        {L"-help -url \"https://example.com/h\"", 1, {"!" + help, url + "https://example.com/h>"}},
        {L"", 0xFFFFFFFD, {"INFO Starting Ostrilo", no_url}},
        {L"-url", 0xFFFFFFFD, {no_url}},
        {L"-log -configdir", 0xFFFFFFFD, {no_url}},
        {L"/log -url \"https://example.com/\"", 1, {url + "/log>"}},
        {L"-configdir \"C:\\cfg\" -url x", 1, {url + "C:\\cfg>"}},
        {L"-url \"\"", 1, {url + ">"}},
        {L"-url \"https://example.com/\" -setregistry", 1, {url + "https://example.com/>"}},
        {L"-SETREGISTRY -url x", 1, {url + "x>"}},
        {L"-url x -configdir \"H:\\My Config\\\\\"", 1, {configdir + "H:\\My Config\\"}},
        {L"-url x -configdir=C:\\cfg", 1, {configdir + "C:\\cfg\\"}},
        {L"-url x -configdir \\\\\\", 1, {configdir + "\\"}},
        {L"-url x", 1, {"ERROR Couldn't read configdir from command line!"}},
        {L"-url \"kvxp://example.com/a\"", 1, {"DEBUG Replaced with standard http(s): http://example.com/a"}},
        {L"-url \"kvxps://example.com/a\"", 1, {"DEBUG Replaced with standard http(s): https://example.com/a"}},
        {L"-url \"KVXPS://example.com/\"", 1, {"!DEBUG Detected kvxp(s) protocol: KVXPS://example.com/"}},
        {L"-url \"%ROOT%\\seite \u00e4.html\"", 0, {local_file, "INFO Finished, goodbye."}},
        {L"-url \"%ROOT%\"", 1, {"!" + local_file}},
    };
    sandbox box;
    box.put(L"url whitelist.txt", "*|none\n");
    write_file(box.root + L"\\seite \u00e4.html", "<html></html>");
    box.standin(box.program_dir + L"\\iexplore.exe");  // the shell finds it beside the program
    for (const command_line_case& c : cases) {
        std::wstring arguments = c.arguments;
        if (std::size_t at = arguments.find(L"%ROOT%"); at != std::wstring::npos)
            arguments.replace(at, 6, box.root);
        const run_result run = box.run(arguments);
        SCOPED_TRACE(narrow(arguments) + "\n" + run.err);
        EXPECT_EQ(run.exit_code, c.status);
        for (const std::string& record : c.records)
            EXPECT_NE(run.has(record[0] == '!' ? record.substr(1) : record), record[0] == '!') << record;
        const bool helped = c.records[0] == help;
        ASSERT_EQ(run.boxes.size(), helped ? 1u : 0u);
        if (helped) {
            EXPECT_EQ(run.boxes[0].title, L"Feldrun Hilfe");
            EXPECT_EQ(run.boxes[0].text, help_text());
        }
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
