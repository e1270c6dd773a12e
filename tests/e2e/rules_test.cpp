// Routing a URL by the rule files: the order of the places, the two file names
// and the preset rule file. Most rules name a destination that is neither
// "local" nor "remote": the run then stops with status 1 right after the
// lookup, and the " --> dest: <...>" record names the rule that matched.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string url = "https://rules.test/page";
const char* const no_match = "INFO Opening URL in kvix (didn't find any match in url list)";

// The rule file checks of the run, in order.
std::vector<std::string> checks(const run_result& run)
{
    std::vector<std::string> found;
    for (const std::string& record : run.records())
        if (record.starts_with("DEBUG * Check URL '"))
            found.push_back(record.substr(6));
    return found;
}

std::string check(const std::string& file)
{
    return "* Check URL '" + url + "' in whitelist '" + file + "'";
}

std::wstring route(const std::string& target, const std::wstring& configdir = L"")
{
    return L"-url \"" + widen(target) + L"\"" + (configdir.empty() ? L"" : L" -configdir \"" + configdir + L"\"");
}

// The installation folder falls back to the program folder when neither
// Program Files folder holds the product.
void remove_installation_folders()
{
    remove_tree(real_program_files() + L"\\Corvane-Pro");
}

enum place { preset, configdir, installation, appdata, program, place_count };
const char* const place_names[place_count] = {"preset", "configdir", "installation", "appdata", "program"};

TEST(LookupOrder, EachPlaceWinsOverTheLaterOnes)
{
    const struct {
        std::vector<place> with_rules;  // places holding a rule file
        place winner;
        bool preset_matches = true;  // the other rule files always match
    } cases[] = {
        {{preset, configdir, installation, appdata, program}, preset},
        {{configdir, installation, appdata, program}, configdir},
        {{installation, appdata, program}, installation},
        {{appdata, program}, appdata},
        {{program}, program},
        {{preset, configdir, program}, configdir, false},
    };
    for (const auto& c : cases) {
        const std::string name = place_names[c.winner];
        SCOPED_TRACE(name);
        sandbox box;
        const scoped_path install(real_program_files() + L"\\Corvane-Pro");
        const std::wstring folders[place_count] = {box.root + L"\\preset", box.root + L"\\configdir", install.path,
                                                   box.appdata + L"\\vnc", box.program_dir};
        // The program folder ends in a backslash, and a backslash is always
        // added. The folder vnc shows that the second name is read when alone.
        const std::string paths[place_count] = {
            narrow(folders[preset]) + "\\url whitelist.txt", narrow(folders[configdir]) + "\\url whitelist.txt",
            narrow(folders[installation]) + "\\url whitelist.txt", narrow(folders[appdata]) + "\\url_whitelist.txt",
            narrow(folders[program]) + "\\\\url whitelist.txt"};
        write_file(folders[configdir] + L"\\x", "");
        for (place p : c.with_rules) {
            const char* pattern = p == preset && !c.preset_matches ? "other.test" : "rules.test/*";
            write_file(widen(paths[p]), std::string(pattern) + "|" + place_names[p] + "\n");
            if (p == preset)
                box.put(L"ostrilo.cfg", "whitelist_path=" + paths[preset] + "\n");
        }

        const run_result run = box.run(route(url, folders[configdir]));
        EXPECT_TRUE(run.has("TRACE  --> dest: <" + name + ">")) << run.err;
        EXPECT_EQ(run.exit_code, 1u);
        EXPECT_TRUE(run.boxes.empty());
        EXPECT_FALSE(run.has("INFO Finished, goodbye."));
        EXPECT_TRUE(run.has("DEBUG URL to compare is now: rules.test/page"));
        // The places after the winner are not consulted.
        const bool with_preset = c.with_rules.front() == preset;
        std::vector<std::string> expected;
        for (int p = with_preset ? preset : configdir; p <= c.winner; ++p) {
            const bool has_file = std::find(c.with_rules.begin(), c.with_rules.end(), p) != c.with_rules.end();
            expected.push_back(check(has_file ? paths[p] : "(null)"));
        }
        EXPECT_EQ(checks(run), expected);
        EXPECT_EQ(run.has("DEBUG Found predefined whitelist path. Checking if url is in whitelist in this file: " +
                          paths[preset]),
                  with_preset);
        EXPECT_EQ(run.has("DEBUG No predefined whitelist path (or no match found in it). Looking 'all over the place' "
                          "(Program Files, %appdata%, next to ostrilo.exe and in -configdir if given)"),
                  c.winner != preset);
    }
}

TEST(LookupOrder, MissingPresetFileEndsTheRunWithItsPath)
{
    sandbox box;
    const std::string preset_path = narrow(box.root) + "\\nicht da\\url whitelist.txt";
    box.put(L"ostrilo.cfg", "whitelist_path=" + preset_path + "\n");
    box.put(L"url whitelist.txt", "*|program\n");
    const run_result run = box.run(route(url));
    ASSERT_EQ(run.boxes.size(), 1u) << run.err;
    EXPECT_EQ(run.boxes[0].title, L"Feldrun Corvane-Pro Browserweiche Feldrun: Fehler");
    // The failed open leaves "file not found" (2) behind; the box reports it
    // and the process ends with it.
    EXPECT_TRUE(
        run.boxes[0].text.starts_with(L"Die eingestellte Whitelist-Datei konnte leider nicht gefunden "
                                      L"werden:\n\n" +
                                      widen(preset_path) + L"\n\nSystemfehlercode 2: "));
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_TRUE(checks(run).empty());
}

TEST(LookupOrder, WithoutAnyRuleFileEveryMissIsReported)
{
    remove_installation_folders();
    sandbox box;
    const std::wstring folder = box.root + L"\\configdir";
    write_file(folder + L"\\x", "");
    const std::string dir = narrow(folder), vnc = narrow(box.appdata) + "\\vnc";
    const std::string start = narrow(box.program_dir) + "\\";  // the program folder with its backslash
    const run_result run = box.run(route(url, folder));
    std::vector<std::string> logged;
    for (const std::string& record : run.records())
        if (record.find(" whitelist ") != std::string::npos && record.find(" exist") != std::string::npos)
            logged.push_back(record);
    // In this order, and no other miss; the program folder's first miss goes to standard output only.
    EXPECT_EQ(
        logged,
        (std::vector<std::string>{
            "TRACE This viewer config dir whitelist file does not exist: " + dir +
                "\\url whitelist.txt -- I try another one.",
            "TRACE This viewer config dir whitelist does ALSO NOT exist: " + dir + "\\url_whitelist.txt",
            "TRACE This global whitelist file does not exist: " + start + "\\url whitelist.txt -- I try another one.",
            "TRACE This global whitelist does ALSO NOT exist: " + start + "\\url_whitelist.txt",
            "TRACE This whitelist file does not exist: " + vnc + "\\url whitelist.txt -- I try another one.",
            "TRACE This whitelist does ALSO NOT exist: " + vnc + "\\url_whitelist.txt",
            "TRACE This startpath whitelist does ALSO NOT exist: " + start + "\\url_whitelist.txt"}))
        << run.err;
    EXPECT_NE(run.out.find("This startpath whitelist file does not exist: " + start +
                           "\\url whitelist.txt -- I try another one.\r\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(checks(run), (std::vector<std::string>(4, check("(null)"))));
    EXPECT_TRUE(run.has(no_match));
}

TEST(LookupOrder, ProgramFolderStandingInForTheInstallationIsReadTwiceAndOnlyItsFirstName)
{
    remove_installation_folders();
    sandbox box;
    box.put(L"url whitelist.txt", "other.test|program\n");
    box.put(L"url_whitelist.txt", "rules.test/*|underscore\n");
    const run_result run = box.run(route(url));
    const std::string file = check(narrow(box.program_dir) + "\\\\url whitelist.txt");
    EXPECT_EQ(checks(run), (std::vector<std::string>{file, check("(null)"), file})) << run.err;
    EXPECT_TRUE(run.has(no_match));
}

TEST(Dispatch, KvxpsIsLookedUpAndHandedOnAsHttps)
{
    remove_installation_folders();
    sandbox box;
    box.put(L"url whitelist.txt", "kvxps://*|kept\n");
    const run_result run = box.run(route("kvxps://rules.test/page"));
    EXPECT_EQ(checks(run).at(0), check(narrow(box.program_dir) + "\\\\url whitelist.txt"));
    EXPECT_TRUE(run.has("DEBUG open_url_in_kvix(https://rules.test/page)")) << run.err;
}

}  // namespace
