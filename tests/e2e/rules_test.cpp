// Routing a URL by the rule files: the order of the places, the two file names,
// the preset rule file, and what the dispatch does with the matching rule.
//
// Most cases give their rules a destination that is neither "local" nor
// "remote": the run then stops with status 1 right after the lookup, opens
// nothing, and the last " --> dest: <...>" record names the rule that matched.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string url = "https://rules.test/page";
const char* const no_match = "Opening URL in kvix (didn't find any match in url list)";
const char* const bad_dest =
    "Error: couldn't figure out if the URL should be opened locally or remotely... Aborting.";

std::wstring installation_folder()
{
    return real_program_files() + L"\\Corvane-Pro";
}

// The installation folder falls back to the program folder when neither
// Program Files folder holds the product; a test that relies on that makes sure.
void remove_installation_folders()
{
    remove_tree(installation_folder());
    remove_tree(real_program_files_x86() + L"\\Corvane-Pro");
}

std::string last_dest(const run_result& run)
{
    const std::string prefix = " --> dest: <";
    std::string dest = "(no rule read)";
    for (const log_record& record : run.records()) {
        if (record.message.rfind(prefix, 0) == 0)
            dest = record.message.substr(prefix.size(), record.message.size() - prefix.size() - 1);
    }
    return dest;
}

// The rule files the run consulted, in order ("(null)" for a place without one).
std::vector<std::string> files_read(const run_result& run)
{
    const std::string prefix = "* Check URL '";
    std::vector<std::string> files;
    for (const log_record& record : run.records()) {
        if (record.level != "DEBUG" || record.message.rfind(prefix, 0) != 0)
            continue;
        std::size_t path = record.message.find("' in whitelist '");
        files.push_back(record.message.substr(path + 16, record.message.size() - path - 17));
    }
    return files;
}

// The URL of the first rule file check.
std::string url_looked_up(const run_result& run)
{
    const std::string prefix = "* Check URL '";
    for (const log_record& record : run.records()) {
        if (record.message.rfind(prefix, 0) == 0)
            return record.message.substr(prefix.size(), record.message.find("' in whitelist '") - prefix.size());
    }
    return "(no lookup)";
}

std::wstring route_arguments(const std::string& target, const std::wstring& folder = L"")
{
    std::wstring arguments = L"-url \"" + widen(target) + L"\"";
    if (!folder.empty())
        arguments += L" -configdir \"" + folder + L"\"";
    return arguments;
}

// --- The order of the places ---

enum place { preset, configdir_place, installation, appdata, program, place_count };
const char* const place_names[place_count] = {"preset", "configdir", "installation", "appdata", "program"};

struct order_case {
    std::vector<place> with_rules;  // places holding a rule file that matches
    place winner;
};

TEST(LookupOrder, EachPlaceWinsOverTheLaterOnes)
{
    const order_case cases[] = {
        {{preset, configdir_place, installation, appdata, program}, preset},
        {{configdir_place, installation, appdata, program}, configdir_place},
        {{installation, appdata, program}, installation},
        {{appdata, program}, appdata},
        {{program}, program},
        {{preset, program}, preset},
        {{configdir_place, program}, configdir_place},
    };
    for (const order_case& c : cases) {
        sandbox box;
        scoped_folder install(installation_folder());
        const std::wstring folders[place_count] = {box.root + L"\\preset", box.root + L"\\configdir",
                                                   installation_folder(), box.appdata + L"\\vnc", box.program_dir};
        // The program folder ends in a backslash, and a backslash is always added.
        const std::string paths[place_count] = {
            narrow(folders[preset]) + "\\url whitelist.txt", narrow(folders[configdir_place]) + "\\url whitelist.txt",
            narrow(folders[installation]) + "\\url whitelist.txt", narrow(folders[appdata]) + "\\url whitelist.txt",
            narrow(folders[program]) + "\\\\url whitelist.txt"};
        make_folders(folders[configdir_place]);
        for (place p : c.with_rules) {
            make_folders(folders[p]);
            write_file(folders[p] + L"\\url whitelist.txt",
                       std::string("# ") + place_names[p] + "\nrules.test/*|" + place_names[p] + "\n");
            if (p == preset)
                write_file(box.program_dir + L"\\ostrilo.cfg", "whitelist_path=" + paths[preset] + "\n");
        }

        run_result run = box.run(route_arguments(url, folders[configdir_place]));
        const std::string name = place_names[c.winner];
        EXPECT_EQ(last_dest(run), name) << run.err;
        EXPECT_EQ(run.exit_code, 1u) << name;
        // The places after the winner are not consulted.
        std::vector<std::string> expected;
        for (int p = c.with_rules.front() == preset ? preset : configdir_place; p <= c.winner; ++p) {
            bool has_file = std::find(c.with_rules.begin(), c.with_rules.end(), p) != c.with_rules.end();
            expected.push_back(has_file ? paths[p] : "(null)");
        }
        EXPECT_EQ(files_read(run), expected) << name;
    }
}

struct two_names_case {
    const char* name;
    const char* blank;       // content of "url whitelist.txt", or none
    const char* underscore;  // content of "url_whitelist.txt", or none
    const char* dest;
    const char* file_read;   // the file read in the -configdir folder
};

TEST(LookupOrder, OnlyTheFirstExistingOfTheTwoNamesIsRead)
{
    const two_names_case cases[] = {
        {"both match", "rules.test/*|blank\n", "rules.test/*|underscore\n", "blank", "url whitelist.txt"},
        {"rule only in the underscore file", "other.test|blank\n", "rules.test/*|underscore\n", "program",
         "url whitelist.txt"},
        {"underscore file alone", nullptr, "rules.test/*|underscore\n", "underscore", "url_whitelist.txt"},
    };
    remove_installation_folders();
    for (const two_names_case& c : cases) {
        sandbox box;
        std::wstring folder = box.root + L"\\configdir";
        make_folders(folder);
        if (c.blank)
            write_file(folder + L"\\url whitelist.txt", c.blank);
        if (c.underscore)
            write_file(folder + L"\\url_whitelist.txt", c.underscore);
        write_file(box.program_dir + L"\\url_whitelist.txt", "*|program\n");

        run_result run = box.run(route_arguments(url, folder));
        EXPECT_EQ(last_dest(run), c.dest) << c.name << "\n" << run.err;
        std::vector<std::string> read = files_read(run);
        ASSERT_FALSE(read.empty()) << c.name;
        EXPECT_EQ(read.front(), narrow(folder) + "\\" + c.file_read) << c.name;
    }
}

TEST(LookupOrder, PresetFileWithoutMatchIsFollowedByTheFolders)
{
    remove_installation_folders();
    sandbox box;
    std::wstring folder = box.root + L"\\configdir";
    make_folders(folder);
    std::string preset_path = narrow(box.root) + "\\preset rules.txt";
    write_file(widen(preset_path), "other.test|preset\n");
    write_file(box.program_dir + L"\\ostrilo.cfg", "whitelist_path = " + preset_path + "\n");
    write_file(folder + L"\\url whitelist.txt", "rules.test/*|configdir\n");

    run_result run = box.run(route_arguments(url, folder));
    EXPECT_EQ(last_dest(run), "configdir") << run.err;
    EXPECT_EQ(files_read(run), (std::vector<std::string>{preset_path, narrow(folder) + "\\url whitelist.txt"}));
    int found = run.find_record("Found predefined whitelist path. Checking if url is in whitelist in this file: " +
                                preset_path);
    int search = run.find_record(
        "No predefined whitelist path (or no match found in it). Looking 'all over the place' (Program Files, "
        "%appdata%, next to ostrilo.exe and in -configdir if given)");
    EXPECT_GE(found, 0);
    EXPECT_GT(search, found);
    EXPECT_NE(run.out.find("Looking for ostrilo config file (ostrilo.cfg)"), std::string::npos);
}

TEST(LookupOrder, MissingPresetFileEndsTheRunWithItsPath)
{
    sandbox box;
    std::string preset_path = narrow(box.root) + "\\nicht da\\url whitelist.txt";
    write_file(box.program_dir + L"\\ostrilo.cfg", "whitelist_path=" + preset_path + "\n");
    write_file(box.program_dir + L"\\url whitelist.txt", "*|program\n");

    run_result run = box.run(route_arguments(url));
    ASSERT_EQ(run.boxes.size(), 1u) << run.err;
    EXPECT_EQ(run.boxes[0].title, L"Feldrun Corvane-Pro Browserweiche Feldrun: Fehler");
    const std::wstring message =
        L"Die eingestellte Whitelist-Datei konnte leider nicht gefunden werden:\n\n" + widen(preset_path);
    EXPECT_EQ(run.boxes[0].text.substr(0, message.size()), message);
    // The failed open leaves "file not found" (2) behind; the box reports it
    // and the process ends with it.
    EXPECT_EQ(run.boxes[0].text.substr(message.size(), 22), L"\n\nSystemfehlercode 2: ");
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_TRUE(files_read(run).empty());
    EXPECT_EQ(run.find_record("Finished, goodbye."), -1);
}

TEST(LookupOrder, WithoutAnyRuleFileEveryMissIsReported)
{
    remove_installation_folders();
    sandbox box;
    std::wstring folder = box.root + L"\\configdir";
    make_folders(folder);
    const std::string dir = narrow(folder);
    const std::string vnc = narrow(box.appdata) + "\\vnc";
    const std::string start = narrow(box.program_dir) + "\\";  // the program folder with its backslash

    run_result run = box.run(route_arguments(url, folder));
    // In this order, each a TRACE record of the environment unit.
    const std::string misses[] = {
        "This viewer config dir whitelist file does not exist: " + dir + "\\url whitelist.txt -- I try another one.",
        "This viewer config dir whitelist does ALSO NOT exist: " + dir + "\\url_whitelist.txt",
        "This global whitelist file does not exist: " + start + "\\url whitelist.txt -- I try another one.",
        "This global whitelist does ALSO NOT exist: " + start + "\\url_whitelist.txt",
        "This whitelist file does not exist: " + vnc + "\\url whitelist.txt -- I try another one.",
        "This whitelist does ALSO NOT exist: " + vnc + "\\url_whitelist.txt",
        "This startpath whitelist does ALSO NOT exist: " + start + "\\url_whitelist.txt",
    };
    int position = 0;
    for (const std::string& miss : misses) {
        int found = run.find_record(miss, position);
        EXPECT_GE(found, position) << miss << "\n" << run.err;
        if (found >= 0) {
            EXPECT_EQ(run.records()[static_cast<std::size_t>(found)].level, "TRACE");
            EXPECT_EQ(run.records()[static_cast<std::size_t>(found)].unit, "kvix_environment");
            position = found + 1;
        }
    }
    // The program folder's first miss goes to standard output only.
    const std::string first_startpath_miss =
        "This startpath whitelist file does not exist: " + start + "\\url whitelist.txt -- I try another one.";
    EXPECT_NE(run.out.find(first_startpath_miss), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find(first_startpath_miss), std::string::npos);
    EXPECT_EQ(files_read(run), (std::vector<std::string>(4, "(null)")));
    EXPECT_TRUE(run.logged("INFO", no_match));
}

TEST(LookupOrder, ProgramFolderStandingInForTheInstallationIsReadTwice)
{
    remove_installation_folders();
    sandbox box;
    write_file(box.program_dir + L"\\url whitelist.txt", "other.test|program\n");

    run_result run = box.run(route_arguments(url));
    const std::string file = narrow(box.program_dir) + "\\\\url whitelist.txt";
    EXPECT_EQ(files_read(run), (std::vector<std::string>{file, "(null)", file})) << run.err;
    EXPECT_TRUE(run.logged("INFO", no_match));
}

// --- The dispatch ---

struct bad_dest_case {
    const char* rule;
    const char* dest;
};

TEST(Dispatch, DestinationOtherThanLocalOrRemoteEndsWithStatusOne)
{
    const bad_dest_case cases[] = {
        {"rules.test/*||firefox", ""},
        {"rules.test/*|elsewhere", "elsewhere"},
        {"rules.test/*| remote", " remote"},
        {"rules.test/*|remote |chrome", "remote "},
    };
    remove_installation_folders();
    sandbox box;
    for (const bad_dest_case& c : cases) {
        write_file(box.program_dir + L"\\url whitelist.txt", std::string(c.rule) + "\n");
        run_result run = box.run(route_arguments(url));
        EXPECT_EQ(last_dest(run), c.dest) << c.rule;
        EXPECT_EQ(run.exit_code, 1u) << c.rule;
        EXPECT_TRUE(run.logged("ERROR", bad_dest)) << c.rule << "\n" << run.err;
        EXPECT_EQ(run.find_record("Finished, goodbye."), -1) << c.rule;
        EXPECT_TRUE(run.boxes.empty()) << c.rule;
    }
}

struct scheme_case {
    const char* given;
    const char* looked_up;
    const char* dest;
};

TEST(Dispatch, KvxpSchemesAreLookedUpAsHttp)
{
    const scheme_case cases[] = {
        {"kvxps://rules.test/page", "https://rules.test/page", "rewritten"},
        {"kvxp://rules.test/page", "http://rules.test/page", "rewritten"},
        {"KVXPS://rules.test/page", "KVXPS://rules.test/page", "kept"},
    };
    remove_installation_folders();
    sandbox box;
    write_file(box.program_dir + L"\\url whitelist.txt", "rules.test/*|rewritten\nkvxps://*|kept\n");
    for (const scheme_case& c : cases) {
        run_result run = box.run(route_arguments(c.given));
        EXPECT_EQ(last_dest(run), c.dest) << c.given << "\n" << run.err;
        EXPECT_EQ(url_looked_up(run), c.looked_up) << c.given;
    }
}

struct remote_case {
    const char* rule;
    std::string target;
    std::string logged;     // the text of the dispatch record
    std::string handed_on;  // the text the viewer hand-off receives
};

TEST(Dispatch, RemoteRuleHandsOnProfileBrowserAndUrl)
{
    const std::string long_url = "https://rules.test/" + std::string(5000, 'a');
    const remote_case cases[] = {
        {"rules.test/*|remote", url, "||" + url, "||" + url},
        {"rules.test/*|REMOTE|chrome|Work", url, "work|chrome|" + url, "work|chrome|" + url},
        // The hand-off text is cut at 4093 bytes.
        {"rules.test/*|remote|b|p", long_url, "p|b|" + long_url, ("p|b|" + long_url).substr(0, 4093)},
    };
    remove_installation_folders();
    sandbox box;
    for (const remote_case& c : cases) {
        write_file(box.program_dir + L"\\url whitelist.txt", std::string(c.rule) + "\n");
        run_result run = box.run(route_arguments(c.target));
        int dispatch = run.find_record("Opening URL in kvix: " + c.logged);
        EXPECT_GE(dispatch, 0) << c.rule << "\n" << run.err.substr(0, 4000);
        EXPECT_GT(run.find_record("open_url_in_kvix(" + c.handed_on + ")"), dispatch) << c.rule;
        EXPECT_TRUE(run.logged("INFO", "Finished, goodbye.")) << c.rule;
        EXPECT_EQ(run.exit_code, 0u) << c.rule;
    }
}

struct local_case {
    const char* rule;
    const char* record;   // the dispatch's DEBUG record
    const wchar_t* browser;  // the browser program that gets the URL
};

TEST(Dispatch, LocalRuleOpensTheBrowserItNames)
{
    remove_installation_folders();
    sandbox box;
    // The shell finds the named browsers beside the program; the default
    // browser and Edge (asked for by its protocol) come from ostrilo.cfg.
    const std::wstring default_browser = box.root + L"\\browsers\\default.exe";
    const std::wstring edge = box.root + L"\\browsers\\edge.exe";
    const std::wstring firefox = box.program_dir + L"\\firefox.exe";
    const std::wstring chrome = box.program_dir + L"\\chrome.exe";
    const std::wstring ie = box.program_dir + L"\\iexplore.exe";
    for (const std::wstring& browser : {default_browser, edge, firefox, chrome, ie})
        box.copy_standin(L"browser_standin", browser);
    write_file(box.program_dir + L"\\ostrilo.cfg",
               "local_browser_bin=" + narrow(default_browser) + "\nlocal_edge=" + narrow(edge) + "\n");

    const local_case cases[] = {
        {"rules.test/*", "No browser specified in URL whitelist. Opening URL locally using IE", default_browser.c_str()},
        {"rules.test/*|local|Firefox", "Opening URL locally using Firefox", firefox.c_str()},
        {"rules.test/*|local|chrome|ignored", "Opening URL locally using Chrome", chrome.c_str()},
        {"rules.test/*|local|edge", "Opening URL locally using Edge", edge.c_str()},
        {"rules.test/*|local|ie", "Opening URL locally using IE", ie.c_str()},
    };
    for (const local_case& c : cases) {
        write_file(box.program_dir + L"\\url whitelist.txt", std::string(c.rule) + "\n");
        std::wstring calls = std::wstring(c.browser) + L".calls.txt";
        DeleteFileW(calls.c_str());
        run_result run = box.run(route_arguments(url));
        EXPECT_TRUE(run.logged("INFO", "Opening URL locally.")) << c.rule << "\n" << run.err;
        EXPECT_TRUE(run.logged("DEBUG", c.record)) << c.rule;
        std::optional<std::string> call = wait_for_file(calls);
        ASSERT_TRUE(call.has_value()) << c.rule << "\n" << run.err;
        EXPECT_NE(call->find(url), std::string::npos) << *call;
        EXPECT_EQ(run.exit_code, 0u) << c.rule;
    }
}

}  // namespace
