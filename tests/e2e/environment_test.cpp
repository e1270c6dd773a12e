// Where the program finds its files and folders, what it reads from its
// key/value files, the product name in the error-box title, and the log file.
//
// Most of these run a probe in the sandbox: this test program itself, copied
// beside Ostrilo.exe and started with "--probe" and a list of requests. It
// calls the environment functions of the program's own code with the
// sandbox's environment block, folders and current directory, and prints one
// line "<request>=<answer>" per request, so that its folder is the program
// folder of the searches. Ostrilo.exe itself is run for what the entry does.
#include "kvix_environment.h"
#include "ostrilo.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <map>
#include <tuple>
#include <vector>

namespace {

// --- The probe ---

std::string answer(const std::optional<std::string>& value)
{
    return value ? *value : "(none)";
}

std::string answer(const std::optional<std::wstring>& value)
{
    return value ? narrow(*value) : "(none)";
}

std::string probe_answer(const std::string& request)
{
    const std::size_t colon = request.find(':');
    const std::string name = request.substr(0, colon);
    const std::string argument = colon == std::string::npos ? std::string() : request.substr(colon + 1);
    static const std::map<std::string, std::function<std::string(const std::string&)>> requests = {
        {"ostrilo_cfg", [](const std::string&) { return answer(find_ostrilo_cfg()); }},
        {"kvix_vnc", [](const std::string&) { return answer(find_kvix_vnc()); }},
        {"kvix_cfg", [](const std::string&) { return answer(find_kvix_cfg()); }},
        {"vncviewer", [](const std::string&) { return answer(find_vncviewer()); }},
        {"installpath", [](const std::string&) { return get_kvix_installpath(); }},
        {"selector", [](const std::string&) { return get_selector_installpath(); }},
        {"tempdir", [](const std::string&) { return answer(get_kvix_tempdir()); }},
        {"subfile", [](const std::string& a) { return answer(wc_get_installpath_subfile(widen(a).c_str())); }},
        // A subfile name of that many "x".
        {"subfile_x",
         [](const std::string& a) {
             return answer(wc_get_installpath_subfile(std::wstring(std::stoul(a), L'x').c_str()));
         }},
        {"env",
         [](const std::string& a) {
             const char* value = std::getenv(a.c_str());
             return std::string(value ? value : "(none)");
         }},
        {"free", [](const std::string&) { free_environment(); return std::string("done"); }},
        {"whitelist_path", [](const std::string&) { return answer(get_whitelist_path()); }},
        {"lotus", [](const std::string&) { return std::to_string(get_lotus_notes_html_workaround()); }},
        {"local_browser_bin", [](const std::string&) { return answer(get_local_browser_bin()); }},
        {"local_firefox", [](const std::string&) { return answer(get_local_firefox()); }},
        {"local_chrome", [](const std::string&) { return answer(get_local_chrome()); }},
        {"local_edge", [](const std::string&) { return answer(get_local_edge()); }},
        {"local_ie", [](const std::string&) { return answer(get_local_ie()); }},
        {"product_name", [](const std::string&) { return get_product_name(); }},
        {"product_name_from_config_file", [](const std::string&) { return get_product_name_from_config_file(); }},
        // What the entry does before anything else can fail: the title from
        // the product name; then a fatal error that shows it.
        {"box",
         [](const std::string&) -> std::string {
             set_error_box_title(make_error_box_title());
             fatal_error(1, L"Probe");
         }},
    };
    const auto found = requests.find(name);
    return found == requests.end() ? "unknown request" : found->second(argument);
}

int run_probe(int count, char** requests)
{
    // The fatal boxes report errno; start from a known value.
    errno = 0;
    for (int i = 0; i < count; ++i) {
        const std::string line = std::string(requests[i]) + "=" + probe_answer(requests[i]) + "\n";
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }
    return 0;
}

// Standard output with its line ends as printed: the text-mode stream writes
// CR LF for each line feed.
std::string out_lines(const run_result& run)
{
    std::string text;
    for (std::size_t i = 0; i < run.out.size(); ++i) {
        if (!(run.out[i] == '\r' && i + 1 < run.out.size() && run.out[i + 1] == '\n'))
            text += run.out[i];
    }
    return text;
}

// The probe's answer to a request, from its standard output.
std::optional<std::string> probe_line(const run_result& run, const std::string& request, int occurrence = 0)
{
    const std::string start = request + "=";
    const std::string out = out_lines(run);
    std::size_t position = 0;
    while (position < out.size()) {
        std::size_t end = out.find('\n', position);
        if (end == std::string::npos)
            end = out.size();
        const std::string line = out.substr(position, end - position);
        if (line.rfind(start, 0) == 0 && occurrence-- == 0)
            return line.substr(start.size());
        position = end + 1;
    }
    return std::nullopt;
}

run_result probe(const sandbox& box, const std::wstring& requests)
{
    const std::wstring path = box.program_dir + L"\\probe.exe";
    if (!path_exists(path))
        CopyFileW((bin_folder() + L"\\e2e_environment.exe").c_str(), path.c_str(), FALSE);
    return box.run_command_line(L"\"" + path + L"\" --probe " + requests);
}

// The Program Files folders as a program in the sandbox sees them. Wine puts
// its own PROGRAMFILES into every process, whatever the environment block
// says; PROGRAMFILES(X86) may pass through from the block.
struct program_files_folders {
    std::wstring program_files;
    std::wstring program_files_x86;
};

program_files_folders program_files_of(const sandbox& box)
{
    const run_result run = probe(box, L"env:PROGRAMFILES env:PROGRAMFILES(X86)");
    return {widen(probe_line(run, "env:PROGRAMFILES").value_or("")),
            widen(probe_line(run, "env:PROGRAMFILES(X86)").value_or(""))};
}

// --- Helpers ---

// A path (file or folder) that is removed when the test starts with it and
// again when it ends: for the prefix's shared places (Program Files, the root
// of drive C:).
class scoped_path {
public:
    explicit scoped_path(std::wstring path) : path_(std::move(path)) { remove_tree(path_); }
    ~scoped_path() { remove_tree(path_); }
    scoped_path(const scoped_path&) = delete;
    scoped_path& operator=(const scoped_path&) = delete;

private:
    std::wstring path_;
};

std::string drive_root()
{
    wchar_t drive[8] = L"C:";
    GetEnvironmentVariableW(L"SystemDrive", drive, 8);
    return narrow(drive);
}

std::vector<std::string> messages_of(const run_result& run, const std::string& unit)
{
    std::vector<std::string> messages;
    for (const log_record& record : run.records()) {
        if (record.unit == unit)
            messages.push_back(record.message);
    }
    return messages;
}

int count_records(const run_result& run, std::string_view message)
{
    int count = 0;
    for (const log_record& record : run.records())
        count += record.message == message ? 1 : 0;
    return count;
}

int count_lines(const std::string& text, std::string_view line)
{
    int count = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++count;
    return count;
}

// The text of a fatal box for a message when errno was `error_number`.
bool is_fatal_text(const std::wstring& text, const std::wstring& message, DWORD exit_code)
{
    if (exit_code == 1)
        return text == message;
    return text.rfind(message + L"\n\nSystemfehlercode " + std::to_wstring(exit_code) + L": ", 0) == 0;
}

const char* const product_lookup_line = "Looking for ostrilo config file (ostrilo.cfg)\n";
const char* const no_product_in_ostrilo_cfg =
    "get_product_name: Couldn't get product name from ostrilo.cfg. Trying kvix.vnc...\n";
const char* const no_product_in_kvix_vnc =
    "get_product_name: Couldn't get product name from kvix.vnc. Using default product name 'Corvane-Pro'\n";

// --- File searches ---

// Where a candidate lies: P the program folder, A APPDATA, I the installation
// folder (the prefix's real Program Files\Corvane-Pro), C the current
// directory, R the root of the current drive.
struct place_file {
    char place;
    const char* name;
};

struct search_case {
    const char* request;
    std::vector<place_file> files;  // the winner first, then later candidates
    char found_place;
    const char* found;              // the found path behind its place
};

const search_case search_cases[] = {
    // The separator goes in behind the program folder's own backslash.
    {"ostrilo_cfg", {{'P', "ostrilo.cfg"}, {'I', "ostrilo.cfg"}, {'C', "ostrilo.cfg"}, {'R', "ostrilo.cfg"}},
     'P', "\\\\ostrilo.cfg"},
    {"ostrilo_cfg", {{'I', "ostrilo.cfg"}, {'C', "ostrilo.cfg"}, {'R', "ostrilo.cfg"}}, 'I', "\\ostrilo.cfg"},
    {"ostrilo_cfg", {{'C', "ostrilo.cfg"}, {'R', "ostrilo.cfg"}}, '-', "ostrilo.cfg"},
    {"ostrilo_cfg", {{'R', "ostrilo.cfg"}}, '-', "\\ostrilo.cfg"},
    {"kvix_cfg", {{'P', "kvix.cfg"}, {'I', "kvix.cfg"}, {'C', "kvix.cfg"}, {'R', "kvix.cfg"}}, 'P', "\\\\kvix.cfg"},
    {"kvix_cfg", {{'I', "kvix.cfg"}, {'C', "kvix.cfg"}, {'R', "kvix.cfg"}}, 'I', "\\kvix.cfg"},
    {"kvix_cfg", {{'C', "kvix.cfg"}, {'R', "kvix.cfg"}}, '-', "kvix.cfg"},
    {"kvix_cfg", {{'R', "kvix.cfg"}}, '-', "\\kvix.cfg"},
    {"kvix_vnc",
     {{'P', "kvix.vnc"}, {'P', "vnc\\kvix.vnc"}, {'A', "vnc\\kvix.vnc"}, {'A', "kvix.vnc"}, {'C', "kvix.vnc"},
      {'R', "vnc\\kvix.vnc"}},
     'P', "\\\\kvix.vnc"},
    {"kvix_vnc",
     {{'P', "vnc\\kvix.vnc"}, {'A', "vnc\\kvix.vnc"}, {'A', "kvix.vnc"}, {'C', "kvix.vnc"}, {'R', "vnc\\kvix.vnc"}},
     'P', "\\\\\\vnc\\kvix.vnc"},
    {"kvix_vnc", {{'A', "vnc\\kvix.vnc"}, {'A', "kvix.vnc"}, {'C', "kvix.vnc"}, {'R', "vnc\\kvix.vnc"}}, 'A',
     "\\\\vnc\\kvix.vnc"},
    {"kvix_vnc", {{'A', "kvix.vnc"}, {'C', "kvix.vnc"}, {'R', "vnc\\kvix.vnc"}}, 'A', "\\kvix.vnc"},
    {"kvix_vnc", {{'C', "kvix.vnc"}, {'R', "vnc\\kvix.vnc"}}, '-', "kvix.vnc"},
    {"kvix_vnc", {{'R', "vnc\\kvix.vnc"}}, '-', "\\vnc\\kvix.vnc"},
    {"vncviewer", {{'P', "vncviewer.exe"}, {'I', "vncviewer.exe"}, {'C', "vncviewer.exe"}}, 'P', "\\\\vncviewer.exe"},
    {"vncviewer", {{'I', "vncviewer.exe"}, {'C', "vncviewer.exe"}}, 'I', "\\vncviewer.exe"},
    {"vncviewer", {{'C', "vncviewer.exe"}}, '-', "vncviewer.exe"},
    {"ostrilo_cfg", {}, '-', "(none)"},
    {"kvix_cfg", {}, '-', "(none)"},
    {"kvix_vnc", {}, '-', "(none)"},
    {"vncviewer", {}, '-', "(none)"},
};

TEST(FileSearch, EachCandidateWinsOverTheLaterOnes)
{
    for (const search_case& c : search_cases) {
        sandbox box;
        const std::wstring installation = program_files_of(box).program_files + L"\\Corvane-Pro";
        scoped_path product(installation);
        scoped_path root_files[] = {scoped_path(widen(drive_root()) + L"\\ostrilo.cfg"),
                                    scoped_path(widen(drive_root()) + L"\\kvix.cfg"),
                                    scoped_path(widen(drive_root()) + L"\\vnc")};
        make_folders(installation);
        const std::map<char, std::wstring> folders = {{'P', box.program_dir}, {'A', box.appdata},
                                                      {'I', installation},     {'C', box.cwd},
                                                      {'R', widen(drive_root())}};
        for (const place_file& file : c.files)
            write_file(folders.at(file.place) + L"\\" + widen(file.name), "product_name=x\n");

        const run_result run = probe(box, widen(c.request));
        const std::string expected =
            (c.found_place == '-' ? std::string() : narrow(folders.at(c.found_place))) + c.found;
        EXPECT_EQ(probe_line(run, c.request), expected) << c.request << " with " << c.files.size() << " files";
    }
}

TEST(FileSearch, MissLogsEveryFolderCandidateInOrderEachTime)
{
    sandbox box;
    const std::wstring installation = program_files_of(box).program_files + L"\\Corvane-Pro";
    scoped_path product(installation);
    make_folders(installation);
    const std::string p = narrow(box.program_dir);
    const std::string i = narrow(installation);
    const std::string a = narrow(box.appdata);
    const std::vector<std::string> ostrilo_cfg_miss = {
        "Looking for file <" + p + "\\\\ostrilo.cfg> -- ",   "it is not there!",
        "Looking for file <" + p + "\\\\\\ostrilo.cfg> -- ", "it is not there!",
        "Kvix installation path: " + i,                      "Looking for file <" + i + "\\ostrilo.cfg> -- ",
        "it is not there!",                                  "Kvix installation path: " + i,
        "Looking for file <" + i + "\\\\ostrilo.cfg> -- ",   "it is not there!",
    };
    const std::vector<std::string> kvix_vnc_miss = {
        "Looking for file <" + p + "\\\\kvix.vnc> -- ",          "it is not there!",
        "Looking for file <" + p + "\\\\\\vnc\\kvix.vnc> -- ",   "it is not there!",
        "Looking for file <" + a + "\\\\vnc\\kvix.vnc> -- ",     "it is not there!",
        "Looking for file <" + a + "\\kvix.vnc> -- ",            "it is not there!",
    };
    for (const auto& [request, expected] :
         {std::pair{L"ostrilo_cfg", ostrilo_cfg_miss}, std::pair{L"kvix_vnc", kvix_vnc_miss}}) {
        // Asked twice: a search that found nothing runs again in full.
        const run_result run = probe(box, std::wstring(request) + L" " + request);
        std::vector<std::string> twice = expected;
        twice.insert(twice.end(), expected.begin(), expected.end());
        EXPECT_EQ(messages_of(run, "kvix_environment"), twice) << narrow(request) << "\n" << run.err;
    }
}

TEST(FileSearch, FoundPathIsCachedUntilTheEnvironmentIsFreed)
{
    sandbox box;
    write_file(box.appdata + L"\\vnc\\kvix.vnc", "ProductName=Acme\n");
    const std::string looked_up = "Looking for file <" + narrow(box.appdata) + "\\\\vnc\\kvix.vnc> -- ";

    const run_result cached = probe(box, L"kvix_vnc kvix_vnc kvix_vnc");
    EXPECT_EQ(count_records(cached, looked_up), 1) << cached.err;
    EXPECT_EQ(probe_line(cached, "kvix_vnc", 2), narrow(box.appdata) + "\\\\vnc\\kvix.vnc");

    const run_result freed = probe(box, L"kvix_vnc free kvix_vnc");
    EXPECT_EQ(count_records(freed, looked_up), 2) << freed.err;
}

TEST(FileSearch, MissingAppdataEndsTheRunOnlyWhenKvixVncIsNotBesideTheProgram)
{
    sandbox box;
    box.unset_env(L"APPDATA");
    const run_result missing = probe(box, L"kvix_vnc");
    ASSERT_EQ(missing.boxes.size(), 1u) << missing.out;
    EXPECT_EQ(missing.boxes[0].title, L"Corvane-Pro Error");
    // The failed tests of the first two candidates leave errno at 2 (no such
    // file), and the box reports it.
    EXPECT_EQ(missing.exit_code, 2u);
    EXPECT_TRUE(is_fatal_text(missing.boxes[0].text, L"Die Systemvariable APPDATA wurde nicht gefunden.", 2))
        << narrow(missing.boxes[0].text);
    EXPECT_EQ(probe_line(missing, "kvix_vnc"), std::nullopt);

    write_file(box.program_dir + L"\\vnc\\kvix.vnc", "ProductName=Acme\n");
    const run_result beside = probe(box, L"kvix_vnc");
    EXPECT_TRUE(beside.boxes.empty());
    EXPECT_EQ(probe_line(beside, "kvix_vnc"), narrow(box.program_dir) + "\\\\\\vnc\\kvix.vnc");
}

// --- Installation and selector folders ---

enum class entry_kind { none, folder, file };

struct folder_case {
    const char* name;
    entry_kind program_files;
    entry_kind program_files_x86;
    int expected;  // 0 Program Files, 1 Program Files (x86), 2 the program folder
};

const folder_case folder_cases[] = {
    {"Program Files folder", entry_kind::folder, entry_kind::none, 0},
    {"Program Files before Program Files (x86)", entry_kind::folder, entry_kind::folder, 0},
    {"Program Files (x86) folder", entry_kind::none, entry_kind::folder, 1},
    {"plain file in Program Files is not taken", entry_kind::file, entry_kind::folder, 1},
    {"plain files only: the program folder", entry_kind::file, entry_kind::file, 2},
    {"nothing: the program folder", entry_kind::none, entry_kind::none, 2},
};

void make_entry(const std::wstring& path, entry_kind kind)
{
    if (kind == entry_kind::folder)
        make_folders(path);
    else if (kind == entry_kind::file)
        write_file(path, "not a folder");
}

TEST(InstallationFolder, ProgramFilesThenProgramFilesX86ThenTheProgramFolder)
{
    for (const auto& [request, product] : {std::pair{"installpath", L"Corvane-Pro"}, std::pair{"selector", L"Corvane-Selector"}}) {
        for (const folder_case& c : folder_cases) {
            SCOPED_TRACE(std::string(request) + ": " + c.name);
            sandbox box;
            const program_files_folders seen = program_files_of(box);
            const std::wstring candidates[] = {seen.program_files + L"\\" + product,
                                               seen.program_files_x86 + L"\\" + product};
            scoped_path first(candidates[0]);
            scoped_path second(candidates[1]);
            make_entry(candidates[0], c.program_files);
            make_entry(candidates[1], c.program_files_x86);
            const run_result run = probe(box, widen(request));
            // The program folder keeps its trailing backslash; the product
            // folders have none.
            const std::string expected = c.expected < 2 ? narrow(candidates[c.expected]) : narrow(box.program_dir) + "\\";
            EXPECT_EQ(probe_line(run, request), expected);
        }
    }
}

// --- Files of the installed product (wide search) ---

struct subfile_case {
    const char* name;
    std::vector<int> present;  // places holding the subfile, see subfile_places
    int found;                 // the place whose path is returned, -1 none
};

// 0 KVIX_INSTALLPATH, 1 PF\Corvane-Selector, 2 PF\Corvane-Pro,
// 3 PF(x86)\Corvane-Selector, 4 PF(x86)\Corvane-Pro, 5 the current directory.
const subfile_case subfile_cases[] = {
    {"KVIX_INSTALLPATH first", {0, 1, 2, 3, 4, 5}, 0},
    {"Corvane-Selector before Corvane-Pro", {1, 2, 3, 4, 5}, 1},
    {"Corvane-Pro in Program Files", {2, 3, 4, 5}, 2},
    {"Program Files (x86) Corvane-Selector", {3, 4, 5}, 3},
    {"Program Files (x86) Corvane-Pro", {4, 5}, 4},
    {"current directory last", {5}, 5},
    {"nowhere", {}, -1},
};

TEST(InstallpathSubfile, SearchesInstallpathThenProgramFilesThenTheCurrentDirectory)
{
    for (const subfile_case& c : subfile_cases) {
        SCOPED_TRACE(c.name);
        sandbox box;
        const program_files_folders seen = program_files_of(box);
        const std::wstring places[] = {box.install_path,
                                       seen.program_files + L"\\Corvane-Selector",
                                       seen.program_files + L"\\Corvane-Pro",
                                       seen.program_files_x86 + L"\\Corvane-Selector",
                                       seen.program_files_x86 + L"\\Corvane-Pro",
                                       box.cwd};
        scoped_path product_folders[] = {scoped_path(places[1]), scoped_path(places[2]), scoped_path(places[3]),
                                         scoped_path(places[4])};
        for (int place : c.present)
            write_file(places[place] + L"\\viewer_selector.exe", "x");
        const run_result run = probe(box, L"subfile:viewer_selector.exe");
        const std::string expected = c.found < 0 ? "(none)" : narrow(places[c.found]) + "\\viewer_selector.exe";
        EXPECT_EQ(probe_line(run, "subfile:viewer_selector.exe"), expected) << run.err;
        if (c.found < 0) {
            // The record names the last path formed: the one in the current directory.
            const std::string last_path = narrow(box.cwd) + "\\viewer_selector.exe";
            EXPECT_TRUE(run.logged("ERROR", std::string("<").append(last_path).append("> doesn't exist. Failed. Returning NULL")))
                << run.err;
        }
    }
}

TEST(InstallpathSubfile, UnsetInstallpathIsSkipped)
{
    sandbox box;
    box.unset_env(L"KVIX_INSTALLPATH");
    write_file(box.cwd + L"\\viewer_selector.exe", "x");
    const run_result run = probe(box, L"subfile:viewer_selector.exe");
    EXPECT_TRUE(run.logged("TRACE", "has_kvix_installpath_file(\"(null)\", \"viewer_selector.exe\")")) << run.err;
    EXPECT_TRUE(run.logged("WARN", "No path or no subfile, returning."));
    EXPECT_EQ(probe_line(run, "subfile:viewer_selector.exe"), narrow(box.cwd) + "\\viewer_selector.exe");
}

struct limit_case {
    const char* name;
    std::size_t installpath_length;  // 0: KVIX_INSTALLPATH unset
    std::size_t subfile_length;
    const wchar_t* box_text;         // none: accepted
};

TEST(InstallpathSubfile, PathsOfUpTo8096CharactersAreAccepted)
{
    // The two Program Files passes need base, product folder, subfile, two
    // separators and the terminator; the longest base with the longer folder
    // name decides.
    std::size_t longest_base = 0;
    {
        sandbox box;
        const program_files_folders seen = program_files_of(box);
        longest_base = std::max(seen.program_files.size(), seen.program_files_x86.size());
    }
    const std::size_t pass_limit = 8096 - longest_base - std::wcslen(L"Corvane-Selector") - 3;
    const limit_case cases[] = {
        // KVIX_INSTALLPATH, separator, subfile and terminator.
        {"installpath path of exactly 8096", 8096 - 2 - 10, 10, nullptr},
        {"installpath path one above", 8096 - 2 - 10 + 1, 10, L"Der Pfad ist länger als 8096 Zeichen."},
        {"Program Files path of exactly 8096", 0, pass_limit, nullptr},
        {"Program Files path one above", 0, pass_limit + 1, L"Pfad zu lang."},
    };
    for (const limit_case& c : cases) {
        SCOPED_TRACE(c.name);
        sandbox box;
        // A short current directory keeps its own path within the limit.
        box.cwd = widen(drive_root()) + L"\\";
        if (c.installpath_length == 0) {
            box.unset_env(L"KVIX_INSTALLPATH");
        } else {
            const std::wstring folder = box.install_path + L"\\";
            box.set_env(L"KVIX_INSTALLPATH", folder + std::wstring(c.installpath_length - folder.size(), L'i'));
        }
        const std::string request = "subfile_x:" + std::to_string(c.subfile_length);
        const run_result run = probe(box, widen(request));
        if (!c.box_text) {
            EXPECT_TRUE(run.boxes.empty()) << (run.boxes.empty() ? "" : narrow(run.boxes[0].text));
            EXPECT_EQ(probe_line(run, request), "(none)");
            if (c.installpath_length) {
                EXPECT_TRUE(run.logged("TRACE", "p_len is 8096.")) << run.err.substr(0, 2000);
            }
        } else {
            ASSERT_EQ(run.boxes.size(), 1u);
            EXPECT_EQ(run.boxes[0].title, L"Corvane-Pro Error");
            EXPECT_TRUE(is_fatal_text(run.boxes[0].text, c.box_text, run.exit_code)) << narrow(run.boxes[0].text);
            EXPECT_EQ(run.exit_code, 1u);
            EXPECT_EQ(probe_line(run, request), std::nullopt);
        }
    }
}

// --- APPDATA and the per-user temporary folder ---

TEST(TempFolder, IsKvixtempInTheTemporaryDirectory)
{
    sandbox box;
    const run_result run = probe(box, L"tempdir tempdir");
    EXPECT_EQ(probe_line(run, "tempdir"), narrow(box.temp) + "\\kvixtemp\\");
    EXPECT_EQ(probe_line(run, "tempdir", 1), narrow(box.temp) + "\\kvixtemp\\");
    EXPECT_TRUE(path_exists(box.temp + L"\\kvixtemp"));
    EXPECT_FALSE(path_exists(box.appdata + L"\\vnc"));
}

TEST(TempFolder, FallsBackToAppdataWhenTheTemporaryDirectoryCannotHoldIt)
{
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"TMP names a plain file", L"\\tmp\\plain-file"},
        {"TMP names a folder under a missing one", L"\\missing\\deeper"},
    };
    for (const auto& [name, tmp] : cases) {
        SCOPED_TRACE(name);
        sandbox box;
        write_file(box.temp + L"\\plain-file", "x");
        box.set_env(L"TMP", box.root + tmp);
        box.set_env(L"TEMP", box.root + tmp);
        const run_result run = probe(box, L"tempdir");
        EXPECT_TRUE(run.boxes.empty());
        EXPECT_EQ(probe_line(run, "tempdir"), narrow(box.appdata) + "\\kvixtemp\\");
        EXPECT_TRUE(path_exists(box.appdata + L"\\kvixtemp"));
        // The first read of APPDATA for the temporary folder creates its vnc folder.
        EXPECT_TRUE(path_exists(box.appdata + L"\\vnc"));
    }
}

TEST(TempFolder, NoneWhenNeitherPlaceCanHoldIt)
{
    sandbox box;
    box.set_env(L"TMP", box.root + L"\\missing\\deeper");
    box.set_env(L"TEMP", box.root + L"\\missing\\deeper");
    box.set_env(L"APPDATA", box.root + L"\\missing\\appdata");
    // APPDATA read first without the vnc folder: the temporary folder cannot
    // be created under the missing APPDATA either.
    const run_result run = probe(box, L"kvix_vnc tempdir");
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(probe_line(run, "tempdir"), "(none)");
}

struct appdata_failure_case {
    const char* name;
    bool appdata_set;
    const wchar_t* message;
};

TEST(TempFolder, AppdataFallbackEndsTheRunWhenAppdataIsMissingOrUnusable)
{
    const appdata_failure_case cases[] = {
        {"APPDATA not set", false, L"Die Systemvariable APPDATA wurde nicht gefunden."},
        {"APPDATA a plain file", true, L"Die Erstellung des vnc-Unterverzeichnisses in %APPDATA% ist fehlgeschlagen."},
    };
    for (const appdata_failure_case& c : cases) {
        SCOPED_TRACE(c.name);
        sandbox box;
        box.set_env(L"TMP", box.root + L"\\missing\\deeper");
        box.set_env(L"TEMP", box.root + L"\\missing\\deeper");
        if (c.appdata_set) {
            write_file(box.root + L"\\appdata-file", "x");
            box.set_env(L"APPDATA", box.root + L"\\appdata-file");
        } else {
            box.unset_env(L"APPDATA");
        }
        const run_result run = probe(box, L"tempdir");
        ASSERT_EQ(run.boxes.size(), 1u);
        EXPECT_EQ(run.boxes[0].title, L"Corvane-Pro Error");
        // The failed folder creation leaves errno set; the box and the exit
        // status report it.
        EXPECT_NE(run.exit_code, 1u);
        EXPECT_TRUE(is_fatal_text(run.boxes[0].text, c.message, run.exit_code)) << narrow(run.boxes[0].text);
        EXPECT_EQ(probe_line(run, "tempdir"), std::nullopt);
    }
}

// --- ostrilo.cfg and the viewer settings ---

TEST(OstriloCfg, AccessorsReadTheirKeysOrNothingWithoutTheFile)
{
    sandbox box;
    write_file(box.program_dir + L"\\ostrilo.cfg",
               "[Settings]\r\n"
               "  whitelist_path   =   C:\\Rules\\url_whitelist.txt   \r\n"
               "LOCAL_BROWSER_BIN=C:\\b\\browser.exe\r\n"
               "local_firefox=C:\\ff\\firefox.exe\r\n"
               "local_chrome=C:\\c\\chrome.exe\r\n"
               "local_edge=\r\n"
               "local_edge=C:\\e\\edge.exe\r\n"
               "local_ie\t=C:\\tab\\ie.exe\r\n"
               "local_ie=C:\\ie\\iexplore.exe\r\n"
               "local_ie=C:\\second\\iexplore.exe\r\n");
    const std::pair<const char*, const char*> cases[] = {
        {"whitelist_path", "C:\\Rules\\url_whitelist.txt"}, {"local_browser_bin", "C:\\b\\browser.exe"},
        {"local_firefox", "C:\\ff\\firefox.exe"},           {"local_chrome", "C:\\c\\chrome.exe"},
        {"local_edge", "C:\\e\\edge.exe"},                  {"local_ie", "C:\\ie\\iexplore.exe"},
        {"lotus", "0"},
    };
    std::wstring requests;
    for (const auto& [request, value] : cases)
        requests += widen(request) + L" ";
    const run_result run = probe(box, requests);
    for (const auto& [request, value] : cases)
        EXPECT_EQ(probe_line(run, request), value) << request;
    // Each accessor says on standard output that it looks for the file.
    EXPECT_EQ(count_lines(out_lines(run), product_lookup_line), static_cast<int>(std::size(cases)));

    remove_tree(box.program_dir + L"\\ostrilo.cfg");
    const run_result without = probe(box, requests);
    for (const auto& [request, value] : cases)
        EXPECT_EQ(probe_line(without, request), std::string(request) == "lotus" ? "0" : "(none)") << request;
}

TEST(OstriloCfg, LotusNotesWorkaroundIsOnOnlyForOne)
{
    const std::pair<const char*, const char*> cases[] = {
        {"lotus_notes_html_workaround=1\n", "1"},  {"lotus_notes_html_workaround = 1  \n", "1"},
        {"lotus_notes_html_workaround=10\n", "0"}, {"lotus_notes_html_workaround=01\n", "0"},
        {"lotus_notes_html_workaround=true\n", "0"}, {"local_ie=1\n", "0"},
    };
    sandbox box;
    for (const auto& [content, value] : cases) {
        write_file(box.program_dir + L"\\ostrilo.cfg", content);
        EXPECT_EQ(probe_line(probe(box, L"lotus"), "lotus"), value) << content;
    }
}

struct product_case {
    const char* name;
    std::optional<std::string> ostrilo_cfg;  // none: no such file
    std::optional<std::string> kvix_vnc;
    std::optional<std::string> kvix_cfg;
    std::string product;
    std::vector<const char*> lines;  // what get_product_name prints
};

TEST(ProductName, ComesFromOstriloCfgThenTheViewerSettingsThenTheDefault)
{
    const product_case cases[] = {
        {"ostrilo.cfg", "product_name=Acme Remote\n", "ProductName=Vnc\n", std::nullopt, "Acme Remote",
         {product_lookup_line}},
        {"kvix.vnc", "local_ie=x\n", "ProductName=Vnc Name\n", "ProductName=Cfg\n", "Vnc Name",
         {product_lookup_line, no_product_in_ostrilo_cfg}},
        {"empty value in ostrilo.cfg", "product_name=\n", "ProductName=Vnc\n", std::nullopt, "Vnc",
         {product_lookup_line, no_product_in_ostrilo_cfg}},
        {"kvix.cfg without kvix.vnc", std::nullopt, std::nullopt, "ProductName=Cfg Name\n", "Cfg Name",
         {product_lookup_line, no_product_in_ostrilo_cfg}},
        {"kvix.vnc without the key hides kvix.cfg", std::nullopt, "Other=1\n", "ProductName=Cfg\n", "Corvane-Pro",
         {product_lookup_line, no_product_in_ostrilo_cfg, no_product_in_kvix_vnc}},
        {"nothing", std::nullopt, std::nullopt, std::nullopt, "Corvane-Pro",
         {product_lookup_line, no_product_in_ostrilo_cfg, no_product_in_kvix_vnc}},
        {"a long name is never cut", "product_name=" + std::string(3000, 'N') + "\n", std::nullopt, std::nullopt,
         std::string(3000, 'N'), {product_lookup_line}},
    };
    for (const product_case& c : cases) {
        SCOPED_TRACE(c.name);
        sandbox box;
        if (c.ostrilo_cfg)
            write_file(box.program_dir + L"\\ostrilo.cfg", *c.ostrilo_cfg);
        if (c.kvix_vnc)
            write_file(box.appdata + L"\\vnc\\kvix.vnc", *c.kvix_vnc);
        if (c.kvix_cfg)
            write_file(box.program_dir + L"\\kvix.cfg", *c.kvix_cfg);

        const run_result names = probe(box, L"product_name");
        EXPECT_EQ(probe_line(names, "product_name"), c.product);
        std::string lines;
        for (const char* line : c.lines)
            lines += line;
        EXPECT_EQ(out_lines(names), lines + "product_name=" + c.product + "\n");

        const run_result title = probe(box, L"box");
        ASSERT_EQ(title.boxes.size(), 1u);
        EXPECT_EQ(title.boxes[0].title, widen("Feldrun " + c.product + " Browserweiche Feldrun: Fehler"));
        EXPECT_TRUE(is_fatal_text(title.boxes[0].text, L"Probe", title.exit_code)) << narrow(title.boxes[0].text);
    }
}

TEST(ProductName, ForTheViewerWindowComesOnlyFromTheViewerSettings)
{
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        // name, kvix.vnc, kvix.cfg, result
        {"kvix.vnc", "ProductName=Vnc\n", "ProductName=Cfg\n", "Vnc"},
        {"kvix.cfg without kvix.vnc", nullptr, "ProductName=Cfg\n", "Cfg"},
        {"kvix.vnc without the key", "Other=1\n", "ProductName=Cfg\n", "Corvane-Pro"},
        {"neither file", nullptr, nullptr, "Corvane-Pro"},
    };
    const std::string default_record =
        "get_product_name_from_config_file: Couldn't get product name from kvix config files. Using default "
        "product name 'Corvane-Pro'";
    for (const auto& [name, vnc, cfg, result] : cases) {
        SCOPED_TRACE(name);
        sandbox box;
        write_file(box.program_dir + L"\\ostrilo.cfg", "product_name=Own\n");
        if (vnc)
            write_file(box.program_dir + L"\\kvix.vnc", vnc);
        if (cfg)
            write_file(box.program_dir + L"\\kvix.cfg", cfg);
        const run_result run = probe(box, L"product_name_from_config_file");
        EXPECT_EQ(probe_line(run, "product_name_from_config_file"), result);
        EXPECT_EQ(run.logged("WARN", default_record), std::string(result) == "Corvane-Pro") << run.err;
        EXPECT_EQ(run.logged("WARN", "I did not find the kvix config file."), !vnc && !cfg);
    }
}

// --- Ostrilo.exe itself ---

TEST(Entry, MissingAppdataEndsTheRunWhileTheTitleIsMade)
{
    sandbox box;
    box.unset_env(L"APPDATA");
    const run_result run = box.run(L"-url \"https://example.com/\"");
    ASSERT_EQ(run.boxes.size(), 1u) << run.err;
    EXPECT_EQ(run.boxes[0].title, L"Corvane-Pro Error");
    EXPECT_TRUE(is_fatal_text(run.boxes[0].text, L"Die Systemvariable APPDATA wurde nicht gefunden.", run.exit_code))
        << narrow(run.boxes[0].text);
    EXPECT_EQ(run.exit_code, 2u);  // errno of the failed file tests before
    EXPECT_FALSE(run.logged("INFO", "Finished, goodbye."));
}

TEST(Entry, KvixVncInTheConfigdirFolderIsNotRead)
{
    sandbox box;
    const std::wstring configdir = box.root + L"\\configdir";
    write_file(configdir + L"\\kvix.vnc", "ProductName=Configdir\n");
    write_file(configdir + L"\\ostrilo.cfg", "product_name=Configdir\n");
    const run_result run = box.run(L"-url \"https://example.com/\" -configdir \"" + configdir + L"\"");
    const std::string lines = std::string(product_lookup_line) + no_product_in_ostrilo_cfg + no_product_in_kvix_vnc;
    EXPECT_EQ(out_lines(run).substr(0, lines.size()), lines) << run.err;
    EXPECT_EQ(count_records(run, "Looking for file <" + narrow(configdir) + "\\kvix.vnc> -- "), 0);
}

// --- The log file ---

std::wstring log_path(const sandbox& box)
{
    return box.temp + L"\\kvixtemp\\feldrun.log";
}

TEST(LogFile, IsWrittenOnlyWithLog)
{
    sandbox box;
    box.run(L"-url \"https://example.com/\"");
    EXPECT_FALSE(path_exists(log_path(box)));

    for (const wchar_t* arguments : {L"-url \"https://example.com/\" -log", L"/log -url x"}) {
        remove_tree(box.temp + L"\\kvixtemp");
        const run_result run = box.run(arguments);
        const std::optional<std::string> content = read_file(log_path(box));
        ASSERT_TRUE(content) << narrow(arguments) << "\n" << run.out;
        // Date and time, level in five columns, unit, line, message, CR LF.
        const std::vector<log_record> records = parse_log(*content);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records[0].message, "Starting Ostrilo");
        EXPECT_EQ(records[0].time.size(), 19u);
        EXPECT_EQ(content->find("INFO  ostrilo:"), 20u);
        EXPECT_EQ(content->substr(content->size() - 2), "\r\n");
        EXPECT_EQ(records.size(), run.records().size());  // every record, TRACE too
    }
}

TEST(LogFile, EachRunStartsAFreshFileAndKeepsThePreviousOneAsOld)
{
    sandbox box;
    write_file(log_path(box) + L".old", "oldest run\r\n");
    write_file(log_path(box), "previous run\r\n");
    box.run(L"-url \"https://example.com/first\" -log");
    EXPECT_EQ(read_file(log_path(box) + L".old"), "previous run\r\n");
    const std::optional<std::string> first = read_file(log_path(box));
    ASSERT_TRUE(first);
    EXPECT_NE(first->find("https://example.com/first"), std::string::npos);

    box.run(L"-url \"https://example.com/second\" -log");
    EXPECT_EQ(read_file(log_path(box) + L".old"), first);
    const std::optional<std::string> second = read_file(log_path(box));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->find("https://example.com/first"), std::string::npos);
    EXPECT_NE(second->find("https://example.com/second"), std::string::npos);
}

TEST(LogFile, GoesUnderAppdataWhenTheTemporaryDirectoryCannotHoldIt)
{
    sandbox box;
    write_file(box.temp + L"\\plain-file", "x");
    box.set_env(L"TMP", box.temp + L"\\plain-file");
    box.set_env(L"TEMP", box.temp + L"\\plain-file");
    const run_result run = box.run(L"-url \"https://example.com/\" -log");
    // The run goes on to the viewer, which this sandbox does not have.
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, L"Der Corvane-Pro Viewer wurde leider nicht gefunden.");
    const std::optional<std::string> content = read_file(box.appdata + L"\\kvixtemp\\feldrun.log");
    ASSERT_TRUE(content) << run.out;
    EXPECT_NE(content->find("Starting Ostrilo"), std::string::npos);
}

TEST(LogFile, RunGoesOnWithoutAFileWhenNoTemporaryFolderCanBeHad)
{
    sandbox box;
    box.set_env(L"TMP", box.root + L"\\missing\\deeper");
    box.set_env(L"TEMP", box.root + L"\\missing\\deeper");
    // An APPDATA of 252 characters: its vnc folder can be created, its
    // kvixtemp folder is too long a path.
    std::wstring appdata = box.root + L"\\";
    appdata += std::wstring(252 - appdata.size(), L'a');
    make_folders(appdata);
    box.set_env(L"APPDATA", appdata);
    const run_result run = box.run(L"-url \"https://example.com/\" -log");
    // The run goes on to the viewer, which this sandbox does not have.
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, L"Der Corvane-Pro Viewer wurde leider nicht gefunden.");
    EXPECT_NE(out_lines(run).find("Failed to initialize logging (failed to get tmp dir).\n"), std::string::npos)
        << run.out;
    EXPECT_TRUE(run.logged("INFO", "Finished, goodbye."));
    EXPECT_FALSE(path_exists(appdata + L"\\kvixtemp"));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--probe")
        return run_probe(argc - 2, argv + 2);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
