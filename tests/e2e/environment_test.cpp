// Where the program finds its files and folders, what it reads from
// ostrilo.cfg, the product name, the temporary folder and the log file. What a
// run of Ostrilo.exe does not reach one by one goes through a probe: this test
// program, copied beside Ostrilo.exe and started with "--probe <request>...",
// printing "<request>=<answer>" for each request.
#include "kvix_environment.h"
#include "ostrilo.h"
#include "run_context.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>

namespace {

run_context probe_run;  // kept from one request to the next, as in Ostrilo.exe

std::string probe_answer(const std::string& request)
{
    if (request.starts_with("subfile:"))
        return narrow(wc_get_installpath_subfile(probe_run, widen(request.substr(8)).c_str()).value_or(L"(none)"));
    using text = std::optional<std::string>;
    // clang-format off
    static const std::map<std::string, std::function<text()>> requests = {
        {"ostrilo_cfg", [] { return find_ostrilo_cfg(probe_run); }},
        {"kvix_vnc", [] { return find_kvix_vnc(probe_run); }},
        {"kvix_cfg", [] { return find_kvix_cfg(probe_run); }},
        {"vncviewer", [] { return find_vncviewer(probe_run); }},
        {"installpath", [] { return text(get_kvix_installpath(probe_run)); }},
        {"selector", [] { return text(get_selector_installpath()); }},
        {"free", [] { return free_environment(probe_run), text("done"); }},
        {"lotus_notes_html_workaround", [] { return text(std::to_string(get_lotus_notes_html_workaround(probe_run))); }},
        {"product_name", [] { return text(get_product_name(probe_run)); }},
        {"product_name_from_config_file", [] { return text(get_product_name_from_config_file(probe_run)); }},
        {"title", [] { return text(narrow(make_error_box_title(probe_run))); }},
    };
    // clang-format on
    return requests.at(request)().value_or("(none)");
}

run_result probe(const sandbox& box, const std::string& requests)
{
    const std::wstring path = box.program_dir + L"\\probe.exe";
    CopyFileW((bin_folder() + L"\\e2e_environment.exe").c_str(), path.c_str(), TRUE);
    return box.run_command_line(L"\"" + path + L"\" --probe " + widen(requests));
}

// A fatal box shows the message alone when errno was 0 (exit status 0 or 1),
// else the message with the error number, which is also the exit status.
bool is_box_text(const std::wstring& text, const std::wstring& message, DWORD exit_code)
{
    return exit_code <= 1 ? text == message
                          : text.starts_with(message + L"\n\nSystemfehlercode " + std::to_wstring(exit_code) + L": ");
}

const std::string lookup_line = "Looking for ostrilo config file (ostrilo.cfg)\r\n";
const std::string no_name_in_ostrilo_cfg =
    "get_product_name: Couldn't get product name from ostrilo.cfg. Trying kvix.vnc...\r\n";
const std::string no_name_in_kvix_vnc =
    "get_product_name: Couldn't get product name from kvix.vnc. Using default product name 'Corvane-Pro'\r\n";
const std::wstring viewer_not_found = L"Der Corvane-Pro Viewer wurde leider nicht gefunden.";
const std::wstring appdata_missing = L"Die Systemvariable APPDATA wurde nicht gefunden.";

TEST(FileSearch, EachCandidateWinsOverTheLaterOnes)
{
    // Each candidate: where it lies (P the program folder, I the installation
    // folder, A APPDATA, C the current directory, R the drive's root) and the
    // name as the program joins it to that folder; P adds the separator behind
    // its own backslash, I and A add one, C and R none.
    const std::map<char, std::string> separator = {{'P', "\\\\"}, {'I', "\\"}, {'A', "\\"}, {'C', ""}, {'R', ""}};
    // clang-format off
    const std::pair<const char*, std::vector<std::string>> search_orders[] = {
        {"ostrilo_cfg", {"Postrilo.cfg", "Iostrilo.cfg", "Costrilo.cfg", "R\\ostrilo.cfg"}},
        {"kvix_cfg", {"Pkvix.cfg", "Ikvix.cfg", "Ckvix.cfg", "R\\kvix.cfg"}},
        {"kvix_vnc", {"Pkvix.vnc", "P\\vnc\\kvix.vnc", "A\\vnc\\kvix.vnc", "Akvix.vnc", "Ckvix.vnc", "R\\vnc\\kvix.vnc"}},
        {"vncviewer", {"Pvncviewer.exe", "Ivncviewer.exe", "Cvncviewer.exe"}},
    };
    // clang-format on
    for (const auto& [request, candidates] : search_orders) {
        // The file in every candidate from `winner` on; past the last, in none.
        for (std::size_t winner = 0; winner <= candidates.size(); ++winner) {
            SCOPED_TRACE(std::string(request) + " from candidate " + std::to_string(winner));
            sandbox box;
            const std::wstring drive = box.root.substr(0, 2);
            const scoped_path installation(real_program_files() + L"\\Corvane-Pro"),
                shared[] = {scoped_path(drive + L"\\ostrilo.cfg", false), scoped_path(drive + L"\\kvix.cfg", false),
                            scoped_path(drive + L"\\vnc", false)};
            const std::map<char, std::wstring> folders = {
                {'P', box.program_dir}, {'I', installation.path}, {'A', box.appdata}, {'C', box.cwd}, {'R', drive}};
            for (std::size_t i = winner; i < candidates.size(); ++i)
                write_file(folders.at(candidates[i][0]) + L"\\" + widen(candidates[i].substr(1)), "x");
            std::string expected = "(none)";
            if (const char place = winner < candidates.size() ? candidates[winner][0] : 0)
                expected = (place == 'C' || place == 'R' ? "" : narrow(folders.at(place))) + separator.at(place) +
                           candidates[winner].substr(1);
            EXPECT_EQ(probe(box, request).out, std::string(request) + "=" + expected + "\r\n");
        }
    }
}

TEST(FileSearch, MissSearchesAgainEachTimeAndAFindIsCachedUntilFreed)
{
    sandbox box;
    const scoped_path installation(real_program_files() + L"\\Corvane-Pro");
    // Each miss tries the four folder candidates again, naming the installation
    // folder each time it is asked for; the bare names leave no record.
    const run_result missed = probe(box, "ostrilo_cfg ostrilo_cfg");
    EXPECT_EQ(missed.count("TRACE Looking for file <" + narrow(box.program_dir) + "\\\\\\ostrilo.cfg> -- "), 2);
    EXPECT_EQ(missed.count("TRACE it is not there!"), 8);
    EXPECT_EQ(missed.count("TRACE Kvix installation path: " + narrow(installation.path)), 4);
    write_file(box.appdata + L"\\vnc\\kvix.vnc", "ProductName=Acme\n");
    const run_result found = probe(box, "kvix_vnc kvix_vnc free kvix_vnc");
    EXPECT_EQ(found.count("TRACE Looking for file <" + narrow(box.appdata) + "\\\\vnc\\kvix.vnc> -- "), 2);
    EXPECT_EQ(found.count("TRACE THERE IT IS!"), 2);
}

TEST(FileSearch, MissingAppdataEndsTheRunWhileTheTitleIsMadeUnlessKvixVncIsBesideTheProgram)
{
    sandbox box;
    box.env[L"APPDATA"] = std::nullopt;
    const std::wstring configdir = box.root + L"\\configdir";  // its files are not read
    write_file(configdir + L"\\kvix.vnc", "ProductName=Configdir\n");
    write_file(configdir + L"\\ostrilo.cfg", "product_name=Configdir\n");
    const run_result missing = box.run(L"-url \"https://example.com/\" -configdir \"" + configdir + L"\"");
    ASSERT_EQ(missing.boxes.size(), 1u) << missing.err;
    EXPECT_EQ(missing.boxes[0].title, L"Corvane-Pro Error");
    EXPECT_EQ(missing.exit_code, 2u);  // errno of the failed tests of the first two candidates
    EXPECT_TRUE(is_box_text(missing.boxes[0].text, appdata_missing, 2)) << narrow(missing.boxes[0].text);
    EXPECT_TRUE(missing.out.starts_with(lookup_line + no_name_in_ostrilo_cfg)) << missing.out;
    // Then the title is made without APPDATA, and the rule lookup is first to need it.
    write_file(box.program_dir + L"\\vnc\\kvix.vnc", "ProductName=Acme\n");
    const run_result beside = box.run(L"-url \"https://example.com/\"");
    ASSERT_EQ(beside.boxes.size(), 1u) << beside.err;
    EXPECT_EQ(beside.boxes[0].title, L"Feldrun Acme Browserweiche Feldrun: Fehler");
    EXPECT_TRUE(is_box_text(beside.boxes[0].text, appdata_missing, beside.exit_code)) << narrow(beside.boxes[0].text);
}

TEST(InstallationFolder, ProgramFilesThenProgramFilesX86ThenTheProgramFolder)
{
    // What %PROGRAMFILES%\<product> and %PROGRAMFILES(X86)%\<product> are (D a
    // folder, F a plain file, - nothing), and which is taken (2 the program folder).
    const std::pair<const char*, int> cases[] = {{"DD", 0}, {"-D", 1}, {"FD", 1}, {"FF", 2}};
    for (const auto& [request, product] :
         {std::pair{"installpath", L"\\Corvane-Pro"}, {"selector", L"\\Corvane-Selector"}})
        for (const auto& [kinds, taken] : cases) {
            SCOPED_TRACE(std::string(request) + " " + kinds);
            sandbox box;
            const std::wstring candidates[] = {real_program_files() + product, box.program_files_x86 + product};
            const scoped_path first(candidates[0], false);
            for (int i = 0; i < 2; ++i)
                if (kinds[i] != '-')
                    write_file(candidates[i] + (kinds[i] == 'D' ? L"\\x" : L""), "x");
            // The product folders have no trailing backslash; the program folder keeps its own.
            const std::string expected = taken < 2 ? narrow(candidates[taken]) : narrow(box.program_dir) + "\\";
            EXPECT_EQ(probe(box, request).out, std::string(request) + "=" + expected + "\r\n");
        }
}

TEST(InstallpathSubfile, InstallpathThenSelectorBeforeProductInEachProgramFilesThenTheCurrentDirectory)
{
    for (std::size_t first = 0; first <= 6; ++first) {  // the subfile in every place from `first` on
        SCOPED_TRACE("from place " + std::to_string(first));
        sandbox box;
        const scoped_path selector(real_program_files() + L"\\Corvane-Selector", false),
            product(real_program_files() + L"\\Corvane-Pro", false);
        const std::wstring places[] = {box.install_path,
                                       selector.path,
                                       product.path,
                                       box.program_files_x86 + L"\\Corvane-Selector",
                                       box.program_files_x86 + L"\\Corvane-Pro",
                                       box.cwd};
        for (std::size_t i = first; i < 6; ++i)
            write_file(places[i] + L"\\viewer_selector.exe", "x");
        if (first == 6)
            box.env[L"KVIX_INSTALLPATH"] = std::nullopt;  // skipped when unset
        const run_result run = probe(box, "subfile:viewer_selector.exe");
        const std::string found = first < 6 ? narrow(places[first]) + "\\viewer_selector.exe" : "(none)";
        EXPECT_EQ(run.out, "subfile:viewer_selector.exe=" + found + "\r\n") << run.err;
        // The record names the last path formed: the one in the current directory.
        EXPECT_EQ(run.has("ERROR <" + narrow(box.cwd) + "\\viewer_selector.exe> doesn't exist. Failed. Returning NULL"),
                  first == 6);
    }
}

TEST(InstallpathSubfile, PathsOfUpTo8096CharactersAreAccepted)
{
    // KVIX_INSTALLPATH set or not (then the Program Files passes decide),
    // characters above 8096, the fatal box.
    const std::tuple<bool, std::size_t, const wchar_t*> cases[] = {{true, 0, nullptr},
                                                                   {true, 1, L"Der Pfad ist länger als 8096 Zeichen."},
                                                                   {false, 0, nullptr},
                                                                   {false, 1, L"Pfad zu lang."}};
    for (const auto& [installpath, above, box_text] : cases) {
        SCOPED_TRACE(std::string(installpath ? "KVIX_INSTALLPATH" : "Program Files") + " +" + std::to_string(above));
        sandbox box;
        box.cwd = box.root.substr(0, 3);  // keeps the current directory's own path short
        // Folder, separator, subfile and terminator; or base, product folder, subfile,
        // two separators and the terminator, where the longer base and name decide.
        const std::wstring folder = box.install_path + L"\\";
        box.env[L"KVIX_INSTALLPATH"] = folder + std::wstring(8096 + above - 2 - 10 - folder.size(), L'i');
        std::size_t subfile_length = 10;
        if (!installpath) {
            box.env[L"KVIX_INSTALLPATH"] = std::nullopt;
            subfile_length = 8096 + above - std::max(real_program_files().size(), box.program_files_x86.size()) - 19;
        }
        const std::string request = "subfile:" + std::string(subfile_length, 'x');
        const run_result run = probe(box, request);
        EXPECT_EQ(run.out, box_text ? "" : request + "=(none)\r\n");
        std::wstring shown;
        for (const message_box& each : run.boxes)
            shown += each.title + L": " + each.text;
        EXPECT_EQ(shown, box_text ? L"Corvane-Pro Error: " + std::wstring(box_text) : L"");
        EXPECT_EQ(run.exit_code, box_text ? 1u : 0u);
        EXPECT_EQ(run.has("TRACE p_len is 8096."), installpath && !box_text);
    }
}

TEST(ProductName, ComesFromOstriloCfgThenTheViewerSettingsThenTheDefaultAndMakesTheTitle)
{
    const std::string n3000(3000, 'N');
    // ostrilo.cfg, %APPDATA%\vnc\kvix.vnc, kvix.cfg ("" none); the product, the
    // fallback lines printed, the name from the viewer settings alone (for the viewer window).
    // clang-format off
    const std::tuple<std::string, std::string, std::string, std::string, int, std::string> cases[] = {
        {"product_name=Acme Remote\n", "ProductName=Vnc\n", "", "Acme Remote", 0, "Vnc"},
        {"local_ie=x\n", "ProductName=Vnc Name\n", "ProductName=Cfg\n", "Vnc Name", 1, "Vnc Name"},
        {"", "", "ProductName=Cfg Name\n", "Cfg Name", 1, "Cfg Name"},
        {"", "Other=1\n", "ProductName=Cfg\n", "Corvane-Pro", 2, "Corvane-Pro"},  // kvix.vnc without the key hides kvix.cfg
        {"product_name=" + n3000 + "\n", "", "", n3000, 0, "Corvane-Pro"},  // a long name is never cut
    };
    // clang-format on
    for (const auto& [ostrilo_cfg, kvix_vnc, kvix_cfg, product, fallbacks, viewer_product] : cases) {
        SCOPED_TRACE(product.substr(0, 20));
        sandbox box;
        for (const auto& [path, content] : {std::pair{box.program_dir + L"\\ostrilo.cfg", ostrilo_cfg},
                                            {box.appdata + L"\\vnc\\kvix.vnc", kvix_vnc},
                                            {box.program_dir + L"\\kvix.cfg", kvix_cfg}})
            if (!content.empty())
                write_file(path, content);
        const run_result run = probe(box, "product_name product_name_from_config_file title");
        const std::string lines =
            lookup_line + (fallbacks > 0 ? no_name_in_ostrilo_cfg : "") + (fallbacks > 1 ? no_name_in_kvix_vnc : "");
        EXPECT_EQ(run.out, lines + "product_name=" + product + "\r\nproduct_name_from_config_file=" + viewer_product +
                               "\r\n" + lines + "title=Feldrun " + product + " Browserweiche Feldrun: Fehler\r\n");
    }
}

// Each line of a log file from `skip` characters on: 11 drops the date, 19 the date and time.
std::string cut_lines(const std::string& log, std::size_t skip)
{
    std::string text;
    for (std::size_t start = 0, end; start < log.size(); start = end)
        end = log.find('\n', start) + 1, text += log.substr(start + skip, end - start - skip);
    return text;
}

TEST(LogFile, OnlyWithLogFreshEachRunKeepingThePreviousOneAsOldAlsoWithoutStandardHandles)
{
    sandbox box;
    box.put(L"ostrilo.cfg", "whitelist_path=C:\\missing\\rules.txt\n");  // each run ends with the fatal box
    const std::wstring log = box.temp + L"\\kvixtemp\\feldrun.log", arguments = L"-url \"https://example.com/\" -log";
    box.run(L"-url \"https://example.com/\"");
    EXPECT_FALSE(path_exists(log));
    write_file(log + L".old", "oldest run\r\n");
    write_file(log, "previous run\r\n");
    const run_result run = box.run(arguments);
    EXPECT_EQ(read_file(log + L".old"), "previous run\r\n");
    const std::string first = read_file(log).value_or("");
    // Every record of standard error, TRACE too, with the date in front and CR LF.
    ASSERT_TRUE(run.has("INFO Starting Ostrilo")) << run.err;
    EXPECT_TRUE(run.err.ends_with(cut_lines(first, 11))) << first;
    // APPDATA was first read by the file searches, which make no vnc folder.
    EXPECT_FALSE(path_exists(box.appdata + L"\\vnc"));
    box.standard_handles = false;  // as the shell starts it
    const run_result shell_run = box.run(arguments);
    EXPECT_EQ(read_file(log + L".old"), first);
    EXPECT_EQ(run.boxes.size() + shell_run.boxes.size(), 2u);
    EXPECT_EQ(cut_lines(read_file(log).value_or(""), 19), cut_lines(first, 19));
}

TEST(TempFolder, UnderAppdataWhenTheTemporaryDirectoryCannotHoldItElseNone)
{
    enum kind { folder, plain_file, too_long };
    // APPDATA, the box, whether the log file is written under APPDATA
    const std::tuple<kind, std::wstring, bool> cases[] = {
        {folder, viewer_not_found, true},
        {plain_file, L"Die Erstellung des vnc-Unterverzeichnisses in %APPDATA% ist fehlgeschlagen.", false},
        {too_long, viewer_not_found, false},
    };
    for (const auto& [kind, box_text, log_file] : cases) {
        SCOPED_TRACE(static_cast<int>(kind));
        sandbox box;
        write_file(box.temp + L"\\plain-file", "x");
        box.env[L"TMP"] = box.env[L"TEMP"] = box.temp + L"\\plain-file";
        // A plain file, or a folder whose vnc folder can be made but whose kvixtemp folder is too long a path.
        std::wstring appdata = kind == folder ? box.appdata : box.root + L"\\appdata-file";
        if (kind == too_long)
            appdata = box.root + L"\\" + std::wstring(251 - box.root.size(), L'a');
        write_file(appdata + (kind == plain_file ? L"" : L"\\x"), "x");
        box.env[L"APPDATA"] = appdata;
        const run_result run = box.run(L"-url \"https://example.com/\" -log");
        const bool fatal = box_text != viewer_not_found;
        ASSERT_EQ(run.boxes.size(), 1u) << run.err;
        EXPECT_TRUE(is_box_text(run.boxes[0].text, box_text, run.exit_code)) << narrow(run.boxes[0].text);
        EXPECT_EQ(run.boxes[0].title == L"Corvane-Pro Error", fatal);  // raised before the title is made
        EXPECT_EQ(run.exit_code != 0, fatal);
        EXPECT_EQ(path_exists(appdata + L"\\vnc"), !fatal);
        const std::optional<std::string> content = read_file(appdata + L"\\kvixtemp\\feldrun.log");
        EXPECT_EQ(content && content->find("Starting Ostrilo") != std::string::npos, log_file);
        EXPECT_EQ(run.out.find("Failed to initialize logging (failed to get tmp dir).\r\n") != std::string::npos,
                  kind == too_long);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--probe") {
        errno = 0;  // the fatal boxes report errno
        for (int i = 2; i < argc; ++i) {
            std::fputs((std::string(argv[i]) + "=" + probe_answer(argv[i]) + "\n").c_str(), stdout);
            std::fflush(stdout);
        }
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
