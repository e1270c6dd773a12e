// Where the program finds its files and folders, the temporary folder and the log file. What a run of Ostrilo.exe
// does not reach one by one goes through a probe: this test program, copied beside Ostrilo.exe and started with
// "--probe <request>...", printing "<request>=<answer>" for each request.
#include "kvix_environment.h"
#include "run_context.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>

using namespace std::string_literals;

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

TEST(FileSearch, EachCandidateWinsOverTheLaterOnes)
{
    // Each candidate: where it lies (P the program folder, A APPDATA, C the current directory, R the drive's root,
    // I the installation folder; for a subfile K KVIX_INSTALLPATH, S and Q the selector and product folders in
    // Program Files, s and q in Program Files (x86), W the current directory) and the name as the program joins it
    // to that folder: P adds a separator behind its own backslash, C and R none, the others one.
    // clang-format off
    const std::pair<const char*, std::vector<std::string>> search_orders[] = {
        {"ostrilo_cfg", {"Postrilo.cfg", "Iostrilo.cfg", "Costrilo.cfg", "R\\ostrilo.cfg"}},
        {"kvix_cfg", {"Pkvix.cfg", "Ikvix.cfg", "Ckvix.cfg", "R\\kvix.cfg"}},
        {"kvix_vnc", {"Pkvix.vnc", "P\\vnc\\kvix.vnc", "A\\vnc\\kvix.vnc", "Akvix.vnc", "Ckvix.vnc",
                      "R\\vnc\\kvix.vnc"}},
        {"vncviewer", {"Pvncviewer.exe", "Ivncviewer.exe", "Cvncviewer.exe"}},
        {"subfile:sel.exe", {"Ksel.exe", "Ssel.exe", "Qsel.exe", "ssel.exe", "qsel.exe", "Wsel.exe"}},
    };
    // clang-format on
    for (const auto& [request, candidates] : search_orders) {
        // The file in every candidate from `winner` on; past the last, in none.
        for (std::size_t winner = 0; winner <= candidates.size(); ++winner) {
            SCOPED_TRACE(std::string(request) + " from candidate " + std::to_string(winner));
            sandbox box;
            const std::wstring drive = box.root.substr(0, 2), pf = real_program_files(), x86 = box.program_files_x86;
            const scoped_path installation(pf + L"\\Corvane-Pro"), selector(pf + L"\\Corvane-Selector"),
                shared[] = {scoped_path(drive + L"\\ostrilo.cfg", false), scoped_path(drive + L"\\kvix.cfg", false),
                            scoped_path(drive + L"\\vnc", false)};
            const std::wstring program = box.program_dir + L"\\", q = x86 + L"\\Corvane-Pro",
                               s = x86 + L"\\Corvane-Selector";
            const std::wstring folders[] = {
                program,           box.appdata, box.cwd, drive, box.install_path, installation.path, selector.path,
                installation.path, q,           box.cwd, s};
            const auto folder = [&](char place) { return folders[std::string_view("PACRKISQqWs").find(place)]; };
            for (std::size_t i = winner; i < candidates.size(); ++i)
                write_file(folder(candidates[i][0]) + L"\\" + widen(candidates[i].substr(1)), "x");
            const char place = winner < candidates.size() ? candidates[winner][0] : 0;
            const std::string expected = !place ? "(none)"
                                         : place == 'C' || place == 'R'
                                             ? candidates[winner].substr(1)
                                             : narrow(folder(place)) + "\\" + candidates[winner].substr(1);
            const run_result run = probe(box, request);
            EXPECT_EQ(run.out, std::string(request) + "=" + expected + "\r\n");
            EXPECT_EQ(run.count("TRACE THERE IT IS!"), place == 'P' || place == 'I' || place == 'A');
        }
    }
}

TEST(FileSearch, MissingAppdataEndsTheRunWithTheBoxBeforeTheTitleIsMade)
{
    sandbox box;
    box.env[L"APPDATA"] = std::nullopt;
    const std::wstring configdir = box.root + L"\\configdir";  // its files are not read
    write_file(configdir + L"\\kvix.vnc", "ProductName=Configdir\n");
    write_file(configdir + L"\\ostrilo.cfg", "product_name=Configdir\n");
    // The exit status is the errno of the failed tests of the first two candidates.
    EXPECT_EQ(box.outcome(box.run(L"-url \"https://example.com/\" -configdir \"" + configdir + L"\"")),
              "exit 2\nbox: Corvane-Pro Error: Die Systemvariable APPDATA wurde nicht gefunden.");
}

TEST(InstallationFolder, ProgramFilesThenProgramFilesX86ThenTheProgramFolder)
{
    // What %PROGRAMFILES%\<product> and %PROGRAMFILES(X86)%\<product> are (D a folder, F a plain file, - nothing),
    // and which is taken (2 the program folder).
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

TEST(InstallpathSubfile, PathsOfUpTo8096CharactersAreAccepted)
{
    // KVIX_INSTALLPATH set or not (then the Program Files passes decide), its box, characters above 8096.
    for (const auto& [installpath, text] :
         {std::pair{true, "Der Pfad ist länger als 8096 Zeichen."}, {false, "Pfad zu lang."}})
        for (const std::size_t above : {0u, 1u}) {
            SCOPED_TRACE(text + " +"s + std::to_string(above));
            sandbox box;
            box.cwd = box.root.substr(0, 3);  // keeps the current directory's own path short
            // Folder, separator, subfile, terminator; or base, product folder, subfile, two separators, terminator.
            const std::wstring folder = box.install_path + L"\\";
            const std::size_t program_files = std::max(real_program_files().size(), box.program_files_x86.size());
            const std::size_t subfile_length = installpath ? 10 : 8096 + above - program_files - 19;
            box.env[L"KVIX_INSTALLPATH"] =
                installpath ? std::optional(folder + std::wstring(8096 + above - 12 - folder.size(), L'i'))
                            : std::nullopt;
            const std::string request = "subfile:" + std::string(subfile_length, 'x');
            const run_result run = probe(box, request);
            EXPECT_EQ(run.out, above ? "" : request + "=(none)\r\n");
            EXPECT_EQ(box.outcome(run), above ? "exit 1\nbox: Corvane-Pro Error: "s + text : "exit 0");
        }
}

// Each line of a log file from `skip` characters on: 11 drops the date, 19 the date and time.
std::string cut_dates(const std::string& log, std::size_t skip = 11)
{
    std::string text;
    for (std::size_t start = 0, end; start < log.size(); start = end)
        end = log.find('\n', start) + 1, text += log.substr(start + skip, end - start - skip);
    return text;
}

// The boxes name the product of ostrilo.cfg, else of kvix.vnc (else kvix.cfg), else the default; standard
// output says each fallback.
TEST(ProductName, ComesFromOstriloCfgThenTheViewerSettingsThenTheDefault)
{
    const std::string fallback = "\nout: get_product_name: Couldn't get product name from ";
    // clang-format off
    const std::tuple<const char*, const char*, const char*, std::string, std::string> cases[] = {
        // ostrilo.cfg, kvix.vnc in %APPDATA%\vnc, kvix.cfg beside the program, the name, standard output
        {"product_name=Acme One\n", "ProductName=Acme Two\n", "", "Acme One", ""},
        {"local_ie=x\n", "ProductName=Acme Two\n", "ProductName=Acme Three\n", "Acme Two",
         fallback + "ostrilo.cfg. Trying kvix.vnc..."},
        {"", nullptr, "ProductName=Acme Three\n", "Acme Three", ""},
        {"", "Other=1\n", "ProductName=Acme Three\n", "Corvane-Pro",
         fallback + "kvix.vnc. Using default product name 'Corvane-Pro'"},
    };
    // clang-format on
    for (const auto& [cfg, vnc, kvix_cfg, name, out] : cases) {
        sandbox box;
        box.put(L"ostrilo.cfg", cfg);
        if (vnc)
            write_file(box.appdata + L"\\vnc\\kvix.vnc", vnc);
        box.put(L"kvix.cfg", kvix_cfg);
        const std::string expected = "exit 0\nbox: Feldrun " + name + " Browserweiche Feldrun: Fehler: Der " + name +
                                     " Viewer wurde leider nicht gefunden." + out;
        EXPECT_EQ(box.outcome(box.run(L"-url \"https://example.com/\""), expected), expected);
    }
}

TEST(LogFile, OnlyWithLogFreshEachRunKeepingThePreviousOneAsOld)
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
    EXPECT_TRUE(run.err.ends_with(cut_dates(first))) << first;
    // Started as the shell starts it, without standard handles, the run logs the same records.
    box.standard_handles = false;
    box.run(arguments);
    EXPECT_EQ(cut_dates(read_file(log).value_or(""), 19), cut_dates(first, 19));
    // APPDATA was first read by the file searches, which make no vnc folder.
    EXPECT_FALSE(path_exists(box.appdata + L"\\vnc"));
    // The log key writes the records of the same run with -log, from ostrilo.cfg or policy; -log writes anyway.
    const scoped_policies clean;
    const HKEY machine = HKEY_LOCAL_MACHINE, user = HKEY_CURRENT_USER;
    const std::tuple<std::string, std::vector<policy_entry>, bool> keyed[] = {
        {"log=1\n", {}, true},
        {"", {{machine, L"log", REG_DWORD, L"1"}, {user, L"unwrap_links", REG_SZ, L"1"}}, true},
        {"log=1\n", {{user, L"log", REG_DWORD, L"0"}}, false}};
    for (const auto& [cfg, policies, logged] : keyed) {
        write_policies(policies);
        box.put(L"ostrilo.cfg", "whitelist_path=C:\\missing\\rules.txt\n" + cfg);
        box.run(arguments);
        std::string with_switch = cut_dates(read_file(log).value_or(""), 19);
        with_switch.erase(with_switch.find(" -log\r\n"), 5);  // the record of the command line
        DeleteFileW(log.c_str());
        box.run(L"-url \"https://example.com/\"");
        EXPECT_EQ(cut_dates(read_file(log).value_or(""), 19), logged ? with_switch : "") << cfg;
    }
}

TEST(TempFolder, UnderAppdataWhenTheTemporaryDirectoryCannotHoldIt)
{
    sandbox box;
    write_file(box.temp + L"\\plain-file", "x");
    box.env[L"TMP"] = box.env[L"TEMP"] = box.temp + L"\\plain-file";
    EXPECT_EQ(box.run(L"-url \"https://example.com/\" -log").exit_code, 0u);  // only the viewer is missing
    EXPECT_TRUE(path_exists(box.appdata + L"\\vnc"));
    EXPECT_NE(read_file(box.appdata + L"\\kvixtemp\\feldrun.log").value_or("").find("Starting Ostrilo"),
              std::string::npos);
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
