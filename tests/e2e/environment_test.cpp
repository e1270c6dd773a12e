// Where the program finds its files and folders, what it reads from
// ostrilo.cfg, the product name, the per-user temporary folder and the log
// file. What a run of Ostrilo.exe does not reach one by one goes through a
// probe: this test program, copied beside Ostrilo.exe and started there with
// "--probe <request>...", printing "<request>=<answer>" for each request.
#include "kvix_environment.h"
#include "ostrilo.h"
#include "run_context.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <functional>

namespace {

// The probe's run, kept from one request to the next as in Ostrilo.exe.
run_context probe_run;

std::string probe_answer(const std::string& request)
{
    if (request.starts_with("subfile:")) {
        const std::optional<std::wstring> found =
            wc_get_installpath_subfile(probe_run, widen(request.substr(8)).c_str());
        return found ? narrow(*found) : "(none)";
    }
    using text = std::optional<std::string>;
    static const std::map<std::string, std::function<text()>> requests = {
        {"ostrilo_cfg", [] { return find_ostrilo_cfg(probe_run); }},
        {"kvix_vnc", [] { return find_kvix_vnc(probe_run); }},
        {"kvix_cfg", [] { return find_kvix_cfg(probe_run); }},
        {"vncviewer", [] { return find_vncviewer(probe_run); }},
        {"whitelist_path", [] { return get_whitelist_path(probe_run); }},
        {"local_browser_bin", [] { return get_local_browser_bin(probe_run); }},
        {"local_firefox", [] { return get_local_firefox(probe_run); }},
        {"local_chrome", [] { return get_local_chrome(probe_run); }},
        {"local_edge", [] { return get_local_edge(probe_run); }},
        {"local_ie", [] { return get_local_ie(probe_run); }},
        {"installpath", [] { return text(get_kvix_installpath(probe_run)); }},
        {"selector", [] { return text(get_selector_installpath()); }},
        {"free", [] { return free_environment(probe_run), text("done"); }},
        {"lotus_notes_html_workaround",
         [] { return text(std::to_string(get_lotus_notes_html_workaround(probe_run))); }},
        {"product_name", [] { return text(get_product_name(probe_run)); }},
        {"product_name_from_config_file", [] { return text(get_product_name_from_config_file(probe_run)); }},
        {"title", [] { return text(narrow(make_error_box_title(probe_run))); }},
    };
    return requests.at(request)().value_or("(none)");
}

run_result probe(const sandbox& box, const std::wstring& requests)
{
    const std::wstring path = box.program_dir + L"\\probe.exe";
    CopyFileW((bin_folder() + L"\\e2e_environment.exe").c_str(), path.c_str(), TRUE);
    return box.run_command_line(L"\"" + path + L"\" --probe " + requests);
}

// A box shows the message alone when errno was 0 (exit status 0 or 1), else
// the message with the error number, which is also the exit status.
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

// A candidate: where it lies (P the program folder, I the installation folder
// in the prefix's own Program Files, A APPDATA, C the current directory, R the
// root of the current drive), the file written there, and the path found
// behind that folder (for C and R, the bare name alone). The separator goes
// in behind the program folder's own backslash, and again before a name that
// begins with one.
struct candidate {
    char place;
    const char* file;
    const char* found;
};

const std::pair<const char*, std::vector<candidate>> search_orders[] = {
    {"ostrilo_cfg",
     {{'P', "ostrilo.cfg", "\\\\ostrilo.cfg"},
      {'I', "ostrilo.cfg", "\\ostrilo.cfg"},
      {'C', "ostrilo.cfg", "ostrilo.cfg"},
      {'R', "ostrilo.cfg", "\\ostrilo.cfg"}}},
    {"kvix_cfg",
     {{'P', "kvix.cfg", "\\\\kvix.cfg"},
      {'I', "kvix.cfg", "\\kvix.cfg"},
      {'C', "kvix.cfg", "kvix.cfg"},
      {'R', "kvix.cfg", "\\kvix.cfg"}}},
    {"kvix_vnc",
     {{'P', "kvix.vnc", "\\\\kvix.vnc"},
      {'P', "vnc\\kvix.vnc", "\\\\\\vnc\\kvix.vnc"},
      {'A', "vnc\\kvix.vnc", "\\\\vnc\\kvix.vnc"},
      {'A', "kvix.vnc", "\\kvix.vnc"},
      {'C', "kvix.vnc", "kvix.vnc"},
      {'R', "vnc\\kvix.vnc", "\\vnc\\kvix.vnc"}}},
    {"vncviewer",
     {{'P', "vncviewer.exe", "\\\\vncviewer.exe"},
      {'I', "vncviewer.exe", "\\vncviewer.exe"},
      {'C', "vncviewer.exe", "vncviewer.exe"}}},
};

TEST(FileSearch, EachCandidateWinsOverTheLaterOnes)
{
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
                write_file(folders.at(candidates[i].place) + L"\\" + widen(candidates[i].file), "x");
            std::string expected = "(none)";
            if (winner < candidates.size()) {
                const candidate& c = candidates[winner];
                expected = (c.place == 'C' || c.place == 'R' ? "" : narrow(folders.at(c.place))) + c.found;
            }
            EXPECT_EQ(probe(box, widen(request)).out, std::string(request) + "=" + expected + "\r\n");
        }
    }
}

TEST(FileSearch, MissSearchesAgainEachTimeAndAFindIsCachedUntilFreed)
{
    sandbox box;
    const scoped_path installation(real_program_files() + L"\\Corvane-Pro");
    // Each miss tries the four folder candidates again, naming the installation
    // folder each time it is asked for; the bare names leave no record.
    const run_result missed = probe(box, L"ostrilo_cfg ostrilo_cfg");
    EXPECT_EQ(missed.count("TRACE Looking for file <" + narrow(box.program_dir) + "\\\\\\ostrilo.cfg> -- "), 2);
    EXPECT_EQ(missed.count("TRACE it is not there!"), 8);
    EXPECT_EQ(missed.count("TRACE Kvix installation path: " + narrow(installation.path)), 4);

    write_file(box.appdata + L"\\vnc\\kvix.vnc", "ProductName=Acme\n");
    const run_result found = probe(box, L"kvix_vnc kvix_vnc free kvix_vnc");
    EXPECT_EQ(found.count("TRACE Looking for file <" + narrow(box.appdata) + "\\\\vnc\\kvix.vnc> -- "), 2);
    EXPECT_EQ(found.count("TRACE THERE IT IS!"), 2);
}

TEST(FileSearch, MissingAppdataEndsTheRunWhileTheTitleIsMadeUnlessKvixVncIsBesideTheProgram)
{
    sandbox box;
    box.env[L"APPDATA"] = std::nullopt;
    // Files in the -configdir folder are not read.
    const std::wstring configdir = box.root + L"\\configdir";
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
    EXPECT_FALSE(beside.has("INFO Finished, goodbye."));
}

TEST(InstallationFolder, ProgramFilesThenProgramFilesX86ThenTheProgramFolder)
{
    // What %PROGRAMFILES%\<product> and %PROGRAMFILES(X86)%\<product> are (D a
    // folder, F a plain file, - nothing), and which is taken (2 the program folder).
    const std::pair<const char*, int> cases[] = {{"DD", 0}, {"-D", 1}, {"FD", 1}, {"FF", 2}};
    for (const auto& [request, product] :
         {std::pair{"installpath", L"\\Corvane-Pro"}, {"selector", L"\\Corvane-Selector"}}) {
        for (const auto& [kinds, taken] : cases) {
            SCOPED_TRACE(std::string(request) + " " + kinds);
            sandbox box;
            const std::wstring candidates[] = {real_program_files() + product, box.program_files_x86 + product};
            const scoped_path first(candidates[0], false);
            for (int i = 0; i < 2; ++i) {
                if (kinds[i] == 'D')
                    write_file(candidates[i] + L"\\x", "");
                else if (kinds[i] == 'F')
                    write_file(candidates[i], "not a folder");
            }
            // The product folders have no trailing backslash; the program folder keeps its own.
            const std::string expected = taken < 2 ? narrow(candidates[taken]) : narrow(box.program_dir) + "\\";
            EXPECT_EQ(probe(box, widen(request)).out, std::string(request) + "=" + expected + "\r\n");
        }
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
        const run_result run = probe(box, L"subfile:viewer_selector.exe");
        const std::string found = first < 6 ? narrow(places[first]) + "\\viewer_selector.exe" : "(none)";
        EXPECT_EQ(run.out, "subfile:viewer_selector.exe=" + found + "\r\n") << run.err;
        if (first == 6) {
            EXPECT_TRUE(run.has("TRACE has_kvix_installpath_file(\"(null)\", \"viewer_selector.exe\")"));
            EXPECT_TRUE(run.has("WARN No path or no subfile, returning."));
            // The record names the last path formed: the one in the current directory.
            EXPECT_TRUE(
                run.has("ERROR <" + narrow(box.cwd) + "\\viewer_selector.exe> doesn't exist. Failed. Returning NULL"));
        }
    }
}

TEST(InstallpathSubfile, PathsOfUpTo8096CharactersAreAccepted)
{
    // KVIX_INSTALLPATH set or not (then the Program Files passes decide),
    // characters above 8096, the fatal box.
    const std::tuple<bool, std::size_t, const wchar_t*> cases[] = {
        {true, 0, nullptr},
        {true, 1, L"Der Pfad ist länger als 8096 Zeichen."},
        {false, 0, nullptr},
        {false, 1, L"Pfad zu lang."},
    };
    for (const auto& [installpath, above, box_text] : cases) {
        SCOPED_TRACE(std::string(installpath ? "KVIX_INSTALLPATH" : "Program Files") + " +" + std::to_string(above));
        sandbox box;
        box.cwd = box.root.substr(0, 3);  // keeps the current directory's own path short
        std::size_t subfile_length = 10;
        if (installpath) {
            // Folder, separator, subfile and terminator.
            const std::wstring folder = box.install_path + L"\\";
            box.env[L"KVIX_INSTALLPATH"] = folder + std::wstring(8096 + above - 2 - 10 - folder.size(), L'i');
        } else {
            // Base, product folder, subfile, two separators and the terminator:
            // the longer base with the longer folder name decides.
            box.env[L"KVIX_INSTALLPATH"] = std::nullopt;
            subfile_length = 8096 + above - std::max(real_program_files().size(), box.program_files_x86.size()) -
                             std::strlen("Corvane-Selector") - 3;
        }
        const std::string request = "subfile:" + std::string(subfile_length, 'x');
        const run_result run = probe(box, widen(request));
        EXPECT_EQ(run.out, box_text ? "" : request + "=(none)\r\n");
        ASSERT_EQ(run.boxes.size(), box_text ? 1u : 0u);
        if (box_text) {
            EXPECT_EQ(run.boxes[0].title, L"Corvane-Pro Error");
            EXPECT_EQ(run.boxes[0].text, box_text);
            EXPECT_EQ(run.exit_code, 1u);
        } else {
            EXPECT_EQ(run.has("TRACE p_len is 8096."), installpath);
        }
    }
}

TEST(OstriloCfg, EachAccessorSaysItLooksAndReadsItsKeyOrNothingWithoutTheFile)
{
    sandbox box;
    std::wstring requests = L"lotus_notes_html_workaround";
    std::string file = "[Settings]\r\nlotus_notes_html_workaround=1\r\n",
                with = lookup_line + "lotus_notes_html_workaround=1\r\n",
                without = lookup_line + "lotus_notes_html_workaround=0\r\n";
    for (const std::string key :
         {"whitelist_path", "local_browser_bin", "local_firefox", "local_chrome", "local_edge", "local_ie"}) {
        requests += L" " + widen(key);
        file += key + "=C:\\" + key + "\r\n";
        with += lookup_line + key + "=C:\\" + key + "\r\n";
        without += lookup_line + key + "=(none)\r\n";
    }
    box.put(L"ostrilo.cfg", file);
    EXPECT_EQ(probe(box, requests).out, with);
    box.put(L"ostrilo.cfg", "lotus_notes_html_workaround=10\n");  // on for exactly "1" only
    EXPECT_EQ(probe(box, L"lotus_notes_html_workaround").out, lookup_line + "lotus_notes_html_workaround=0\r\n");
    DeleteFileW((box.program_dir + L"\\ostrilo.cfg").c_str());
    EXPECT_EQ(probe(box, requests).out, without);
}

TEST(ProductName, ComesFromOstriloCfgThenTheViewerSettingsThenTheDefaultAndMakesTheTitle)
{
    const struct {
        const char* name;
        std::optional<std::string> ostrilo_cfg, kvix_vnc, kvix_cfg;  // kvix.vnc in %APPDATA%\vnc
        std::string product;
        int fallbacks;               // how many fallback lines get_product_name prints
        std::string viewer_product;  // from the viewer settings alone, for the viewer window
    } cases[] = {
        {"ostrilo.cfg", "product_name=Acme Remote\n", "ProductName=Vnc\n", std::nullopt, "Acme Remote", 0, "Vnc"},
        {"kvix.vnc", "local_ie=x\n", "ProductName=Vnc Name\n", "ProductName=Cfg\n", "Vnc Name", 1, "Vnc Name"},
        {"kvix.cfg without kvix.vnc", std::nullopt, std::nullopt, "ProductName=Cfg Name\n", "Cfg Name", 1, "Cfg Name"},
        {"kvix.vnc without the key hides kvix.cfg", std::nullopt, "Other=1\n", "ProductName=Cfg\n", "Corvane-Pro", 2,
         "Corvane-Pro"},
        {"nothing", std::nullopt, std::nullopt, std::nullopt, "Corvane-Pro", 2, "Corvane-Pro"},
        {"a long name is never cut", "product_name=" + std::string(3000, 'N') + "\n", std::nullopt, std::nullopt,
         std::string(3000, 'N'), 0, "Corvane-Pro"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sandbox box;
        if (c.ostrilo_cfg)
            box.put(L"ostrilo.cfg", *c.ostrilo_cfg);
        if (c.kvix_vnc)
            write_file(box.appdata + L"\\vnc\\kvix.vnc", *c.kvix_vnc);
        if (c.kvix_cfg)
            box.put(L"kvix.cfg", *c.kvix_cfg);
        const run_result run = probe(box, L"product_name product_name_from_config_file title");
        const std::string lines = lookup_line + (c.fallbacks > 0 ? no_name_in_ostrilo_cfg : "") +
                                  (c.fallbacks > 1 ? no_name_in_kvix_vnc : "");
        EXPECT_EQ(run.out, lines + "product_name=" + c.product +
                               "\r\nproduct_name_from_config_file=" + c.viewer_product + "\r\n" + lines +
                               "title=Feldrun " + c.product + " Browserweiche Feldrun: Fehler\r\n");
        EXPECT_EQ(run.has("WARN get_product_name_from_config_file: Couldn't get product name from kvix config files. "
                          "Using default product name 'Corvane-Pro'"),
                  c.viewer_product == "Corvane-Pro");
        EXPECT_EQ(run.has("WARN I did not find the kvix config file."), !c.kvix_vnc && !c.kvix_cfg);
    }
}

TEST(LogFile, IsWrittenOnlyWithLogFreshEachRunKeepingThePreviousOneAsOld)
{
    sandbox box;
    const std::wstring log = box.temp + L"\\kvixtemp\\feldrun.log";
    box.put(L"url whitelist.txt", "*|none\n");
    box.run(L"-url \"https://example.com/\"");
    EXPECT_FALSE(path_exists(log));

    write_file(log + L".old", "oldest run\r\n");
    write_file(log, "previous run\r\n");
    const run_result run = box.run(L"-url \"https://example.com/first\" -log");
    EXPECT_EQ(read_file(log + L".old"), "previous run\r\n");
    const std::optional<std::string> first = read_file(log);
    ASSERT_TRUE(first) << run.out;
    // Every record from the start of logging on, TRACE too, with date and time and CR LF.
    const std::vector<std::string> records = run.records();
    EXPECT_EQ(parse_log(*first), std::vector(records.begin() + run.find("INFO Starting Ostrilo"), records.end()));
    EXPECT_EQ((*first)[4], '-');  // the date in front
    // APPDATA was first read by the file searches, which make no vnc folder.
    EXPECT_FALSE(path_exists(box.appdata + L"\\vnc"));

    box.run(L"/log -url \"https://example.com/second\"");
    EXPECT_EQ(read_file(log + L".old"), first);
    EXPECT_EQ(read_file(log).value_or("").find("https://example.com/first"), std::string::npos);
}

// Each line of a log file from `skip` characters on: 11 drops the date, 19 the date and time.
std::string cut_lines(const std::string& log, std::size_t skip)
{
    std::string text;
    for (std::size_t start = 0, end; start < log.size(); start = end)
        end = log.find('\n', start) + 1, text += log.substr(start + skip, end - start - skip);
    return text;
}

TEST(LogFile, HoldsTheRecordsOfStandardErrorByteForByteAlsoWithoutStandardHandlesAndAfterAFatalBox)
{
    for (const char* config : {"", "whitelist_path=C:\\missing\\rules.txt\n"}) {
        SCOPED_TRACE(config);
        sandbox box;
        box.put(L"ostrilo.cfg", config);
        const std::wstring log = box.temp + L"\\kvixtemp\\feldrun.log";
        const run_result run = box.run(L"-url \"https://example.com/a\" -log");
        const std::string with_handles = read_file(log).value_or("");
        ASSERT_TRUE(run.has("INFO Starting Ostrilo")) << run.err;
        EXPECT_EQ(run.err, cut_lines(with_handles, 11));
        box.standard_handles = false;
        const run_result shell_run = box.run(L"-url \"https://example.com/a\" -log");
        EXPECT_EQ(run.boxes.size() + shell_run.boxes.size(), 2u);
        EXPECT_EQ(cut_lines(read_file(log).value_or(""), 19), cut_lines(with_handles, 19));
    }
}

TEST(TempFolder, UnderAppdataWhenTheTemporaryDirectoryCannotHoldItElseNone)
{
    enum kind { folder, plain_file, too_long };
    const std::tuple<kind, std::wstring, bool> cases[] = {
        // APPDATA, the box, whether the log file is written under APPDATA
        {folder, viewer_not_found, true},
        {plain_file, L"Die Erstellung des vnc-Unterverzeichnisses in %APPDATA% ist fehlgeschlagen.", false},
        {too_long, viewer_not_found, false},
    };
    for (const auto& [kind, box_text, log_file] : cases) {
        SCOPED_TRACE(static_cast<int>(kind));
        sandbox box;
        write_file(box.temp + L"\\plain-file", "x");
        box.env[L"TMP"] = box.env[L"TEMP"] = box.temp + L"\\plain-file";
        std::wstring appdata = box.appdata;
        if (kind == plain_file) {
            appdata = box.root + L"\\appdata-file";
            write_file(appdata, "x");
        } else if (kind == too_long) {
            // Its vnc folder can be made; its kvixtemp folder is too long a path.
            appdata = box.root + L"\\";
            appdata += std::wstring(252 - appdata.size(), L'a');
            write_file(appdata + L"\\x", "");
        }
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
