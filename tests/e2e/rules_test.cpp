// Routing a URL by the rule files: the order of the places, the two file names
// and the preset rule file. Most rules name a destination that is neither
// "local" nor "remote": the run then stops with status 1 right after the
// lookup, and the " --> dest: <...>" record names the rule that matched.
#include "sandbox.h"

#include <gtest/gtest.h>

namespace {

const std::string url = "https://rules.test/page";

// The rule file checks (and misses) of the run, in order, one line each.
std::string lookups(const run_result& run, bool misses = false)
{
    std::string found;
    for (const std::string& record : run.records())
        if (record.starts_with("DEBUG * Check URL '") ||
            (misses && record.find(" whitelist ") != std::string::npos && record.find(" exist") != std::string::npos))
            found += record.substr(record.find(' ') + 1) + "\n";
    return found;
}

std::string check(const std::string& file)
{
    return "* Check URL '" + url + "' in whitelist '" + file + "'\n";
}

std::wstring route(const std::string& target, const std::wstring& configdir = L"")
{
    return L"-url \"" + widen(target) + L"\"" + (configdir.empty() ? L"" : L" -configdir \"" + configdir + L"\"");
}

enum place { preset, configdir, installation, appdata, program, place_count };
const char* const place_names[place_count] = {"preset", "configdir", "installation", "appdata", "program"};

TEST(LookupOrder, EachPlaceWinsOverTheLaterOnes)
{
    // The places holding a rule file (the others always match), and the winner.
    // clang-format off
    const std::tuple<std::vector<place>, place, bool> cases[] = {
        {{preset, configdir, installation, appdata, program}, preset, true}, {{configdir, installation, appdata, program}, configdir, true},
        {{installation, appdata, program}, installation, true}, {{appdata, program}, appdata, true}, {{program}, program, true},
        {{preset, configdir, program}, configdir, false},  // the preset file does not match
    };
    // clang-format on
    for (const auto& [with_rules, winner, preset_matches] : cases) {
        SCOPED_TRACE(place_names[winner]);
        sandbox box;
        const scoped_path install(real_program_files() + L"\\Corvane-Pro");
        // The program folder ends in a backslash, and a backslash is always
        // added. The folder vnc shows that the second name is read when alone.
        const std::string paths[place_count] = {
            narrow(box.root) + "\\preset\\url whitelist.txt", narrow(box.root) + "\\configdir\\url whitelist.txt",
            narrow(install.path) + "\\url whitelist.txt", narrow(box.appdata) + "\\vnc\\url_whitelist.txt",
            narrow(box.program_dir) + "\\\\url whitelist.txt"};
        write_file(box.root + L"\\configdir\\x", "");
        for (place p : with_rules)
            write_file(widen(paths[p]), (p == preset && !preset_matches ? "other.test|" : "rules.test/*|") +
                                            std::string(place_names[p]) + "\n");
        box.put(L"ostrilo.cfg", with_rules[0] == preset ? "whitelist_path=" + paths[preset] + "\n" : "");
        const run_result run = box.run(route(url, box.root + L"\\configdir"));
        // The places after the winner are not consulted.
        std::string expected;
        for (int p = with_rules[0] == preset ? preset : configdir; p <= winner; ++p)
            expected += check(std::count(with_rules.begin(), with_rules.end(), p) ? paths[p] : "(null)");
        EXPECT_EQ(lookups(run), expected);
        const std::string records = "TRACE  --> dest: <" + std::string(place_names[winner]) +
                                    ">\nDEBUG URL to compare is now: rules.test/page\n" +
                                    (with_rules[0] == preset ? "" : "!") +
                                    "DEBUG Found predefined whitelist path. Checking if url is in whitelist in this "
                                    "file: " +
                                    paths[preset] + "\n" + (winner != preset ? "" : "!") +
                                    "DEBUG No predefined whitelist path (or no match found in it). Looking 'all over "
                                    "the place' (Program Files, %appdata%, next to ostrilo.exe and in -configdir if "
                                    "given)";
        EXPECT_EQ(box.outcome(run, records), "exit 1\n" + records);
    }
}

TEST(LookupOrder, MissingPresetFileEndsTheRunWithItsPath)
{
    sandbox box;
    const std::string preset_path = narrow(box.root) + "\\nicht da\\url whitelist.txt";
    box.put(L"ostrilo.cfg", "whitelist_path=" + preset_path + "\n");
    box.put(L"url whitelist.txt", "*|program\n");
    const run_result run = box.run(route(url));
    // The failed open leaves "file not found" (2) behind; the box reports it and the process ends with it.
    EXPECT_EQ(box.outcome(run),
              "exit 2\nbox: Feldrun Corvane-Pro Browserweiche Feldrun: Fehler: Die eingestellte "
              "Whitelist-Datei konnte leider nicht gefunden werden:\n\n" +
                  preset_path);
    EXPECT_EQ(lookups(run), "");
}

TEST(LookupOrder, WithoutAnyRuleFileEveryMissIsReported)
{
    remove_tree(real_program_files() + L"\\Corvane-Pro");  // the program folder stands in for the installation
    sandbox box;
    write_file(box.root + L"\\configdir\\x", "");
    const std::string dir = narrow(box.root) + "\\configdir", vnc = narrow(box.appdata) + "\\vnc";
    const std::string start = narrow(box.program_dir) + "\\";  // the program folder with its backslash
    const run_result run = box.run(route(url, box.root + L"\\configdir"));
    // In this order, and no other miss; the program folder's first miss goes to standard output only.
    EXPECT_EQ(lookups(run, true),
              "This viewer config dir whitelist file does not exist: " + dir +
                  "\\url whitelist.txt -- I try another one.\n" +
                  "This viewer config dir whitelist does ALSO NOT exist: " + dir + "\\url_whitelist.txt\n" +
                  check("(null)") + "This global whitelist file does not exist: " + start +
                  "\\url whitelist.txt -- I try another one.\nThis global whitelist does ALSO NOT exist: " + start +
                  "\\url_whitelist.txt\n" + check("(null)") + "This whitelist file does not exist: " + vnc +
                  "\\url whitelist.txt -- I try another one.\nThis whitelist does ALSO NOT exist: " + vnc +
                  "\\url_whitelist.txt\n" + check("(null)") + "This startpath whitelist does ALSO NOT exist: " + start +
                  "\\url_whitelist.txt\n" + check("(null)"));
    EXPECT_NE(run.out.find("This startpath whitelist file does not exist: " + start +
                           "\\url whitelist.txt -- I try another one.\r\n"),
              std::string::npos)
        << run.out;
}

TEST(LookupOrder, ProgramFolderStandingInForTheInstallationIsReadTwiceAndOnlyItsFirstName)
{
    remove_tree(real_program_files() + L"\\Corvane-Pro");
    sandbox box;
    box.put(L"url whitelist.txt", "other.test|program\n");
    box.put(L"url_whitelist.txt", "rules.test/*|underscore\n");
    const std::string file = check(narrow(box.program_dir) + "\\\\url whitelist.txt");
    const run_result run = box.run(route(url));
    EXPECT_EQ(lookups(run), file + check("(null)") + file);
    EXPECT_TRUE(run.has("INFO Opening URL in kvix (didn't find any match in url list)"));
}

TEST(Dispatch, KvxpsIsLookedUpAndHandedOnAsHttps)
{
    remove_tree(real_program_files() + L"\\Corvane-Pro");
    sandbox box;
    box.put(L"url whitelist.txt", "kvxps://*|kept\n");
    const run_result run = box.run(route("kvxps://rules.test/page"));
    EXPECT_TRUE(lookups(run).starts_with(check(narrow(box.program_dir) + "\\\\url whitelist.txt")));
    EXPECT_TRUE(run.has("DEBUG open_url_in_kvix(https://rules.test/page)")) << run.err;
}

}  // namespace
