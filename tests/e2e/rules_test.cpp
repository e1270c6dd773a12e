// Routing a URL by the rule files: the order of the places, the two file names
// and the preset rule file. Most rules name a destination that is neither
// "local" nor "remote": the run then stops with status 1 right after the
// lookup, and the " --> dest: <...>" record names the rule that matched.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string url = "https://rules.test/page";
const char* const no_match = "Opening URL in kvix (didn't find any match in url list)";

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

// The rule file checks of the run, in order.
std::vector<std::string> checks(const run_result& run)
{
    std::vector<std::string> found;
    for (const log_record& record : run.records()) {
        if (record.level == "DEBUG" && record.message.rfind("* Check URL '", 0) == 0)
            found.push_back(record.message);
    }
    return found;
}

std::string check(const std::string& file, const std::string& target = url)
{
    return "* Check URL '" + target + "' in whitelist '" + file + "'";
}

std::wstring route_arguments(const std::string& target, const std::wstring& folder = L"")
{
    std::wstring arguments = L"-url \"" + widen(target) + L"\"";
    if (!folder.empty())
        arguments += L" -configdir \"" + folder + L"\"";
    return arguments;
}

enum place { preset, configdir_place, installation, appdata, program, place_count };
const char* const place_names[place_count] = {"preset", "configdir", "installation", "appdata", "program"};

struct order_case {
    std::vector<place> with_rules;  // places holding a rule file
    place winner;
    bool preset_matches = true;     // the other rule files always match
};

TEST(LookupOrder, EachPlaceWinsOverTheLaterOnes)
{
    const order_case cases[] = {
        {{preset, configdir_place, installation, appdata, program}, preset},
        {{configdir_place, installation, appdata, program}, configdir_place},
        {{installation, appdata, program}, installation},
        {{appdata, program}, appdata},
        {{program}, program},
        {{preset, configdir_place, program}, configdir_place, false},
    };
    const std::string found_record = "Found predefined whitelist path. Checking if url is in whitelist in this file: ";
    const std::string search_record =
        "No predefined whitelist path (or no match found in it). Looking 'all over the place' (Program Files, "
        "%appdata%, next to ostrilo.exe and in -configdir if given)";
    for (const order_case& c : cases) {
        sandbox box;
        scoped_folder install(installation_folder());
        const std::wstring folders[place_count] = {box.root + L"\\preset", box.root + L"\\configdir",
                                                   installation_folder(), box.appdata + L"\\vnc", box.program_dir};
        // The program folder ends in a backslash, and a backslash is always
        // added. The folder vnc shows that the second name is read when alone.
        const std::string paths[place_count] = {
            narrow(folders[preset]) + "\\url whitelist.txt", narrow(folders[configdir_place]) + "\\url whitelist.txt",
            narrow(folders[installation]) + "\\url whitelist.txt", narrow(folders[appdata]) + "\\url_whitelist.txt",
            narrow(folders[program]) + "\\\\url whitelist.txt"};
        make_folders(folders[configdir_place]);
        for (place p : c.with_rules) {
            make_folders(folders[p]);
            const char* pattern = p == preset && !c.preset_matches ? "other.test" : "rules.test/*";
            write_file(widen(paths[p]), std::string(pattern) + "|" + place_names[p] + "\n");
            if (p == preset)
                write_file(box.program_dir + L"\\ostrilo.cfg", "whitelist_path=" + paths[preset] + "\n");
        }

        run_result run = box.run(route_arguments(url, folders[configdir_place]));
        const std::string name = place_names[c.winner];
        EXPECT_TRUE(run.logged("TRACE", " --> dest: <" + name + ">")) << run.err;
        EXPECT_EQ(run.exit_code, 1u) << name;
        EXPECT_TRUE(run.boxes.empty()) << name;
        EXPECT_EQ(run.find_record("Finished, goodbye."), -1) << name;
        EXPECT_TRUE(run.logged("DEBUG", "URL to compare is now: rules.test/page")) << name;
        // The places after the winner are not consulted.
        const bool with_preset = c.with_rules.front() == preset;
        std::vector<std::string> expected;
        for (int p = with_preset ? preset : configdir_place; p <= c.winner; ++p) {
            bool has_file = std::find(c.with_rules.begin(), c.with_rules.end(), p) != c.with_rules.end();
            expected.push_back(check(has_file ? paths[p] : "(null)"));
        }
        EXPECT_EQ(checks(run), expected) << name;
        EXPECT_EQ(run.logged("DEBUG", found_record + paths[preset]), with_preset) << name;
        EXPECT_EQ(run.logged("DEBUG", search_record), c.winner != preset) << name;
    }
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
    // The failed open leaves "file not found" (2) behind; the box reports it
    // and the process ends with it.
    const std::wstring message = L"Die eingestellte Whitelist-Datei konnte leider nicht gefunden werden:\n\n" +
                                 widen(preset_path) + L"\n\nSystemfehlercode 2: ";
    EXPECT_EQ(run.boxes[0].text.substr(0, message.size()), message);
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_TRUE(checks(run).empty());
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
    // In this order, and no other miss.
    const std::string misses[] = {
        "This viewer config dir whitelist file does not exist: " + dir + "\\url whitelist.txt -- I try another one.",
        "This viewer config dir whitelist does ALSO NOT exist: " + dir + "\\url_whitelist.txt",
        "This global whitelist file does not exist: " + start + "\\url whitelist.txt -- I try another one.",
        "This global whitelist does ALSO NOT exist: " + start + "\\url_whitelist.txt",
        "This whitelist file does not exist: " + vnc + "\\url whitelist.txt -- I try another one.",
        "This whitelist does ALSO NOT exist: " + vnc + "\\url_whitelist.txt",
        "This startpath whitelist does ALSO NOT exist: " + start + "\\url_whitelist.txt",
    };
    std::vector<std::string> logged, expected;
    for (const log_record& record : run.records()) {
        if (record.message.find(" whitelist ") != std::string::npos && record.message.find(" exist") != std::string::npos)
            logged.push_back(record.level + " " + record.unit + " " + record.message);
    }
    for (const std::string& miss : misses)
        expected.push_back("TRACE kvix_environment " + miss);
    EXPECT_EQ(logged, expected) << run.err;
    // The program folder's first miss goes to standard output only.
    const std::string first_startpath_miss =
        "This startpath whitelist file does not exist: " + start + "\\url whitelist.txt -- I try another one.";
    EXPECT_NE(run.out.find(first_startpath_miss), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find(first_startpath_miss), std::string::npos);
    EXPECT_EQ(checks(run), (std::vector<std::string>(4, check("(null)"))));
    EXPECT_TRUE(run.logged("INFO", no_match));
}

TEST(LookupOrder, ProgramFolderStandingInForTheInstallationIsReadTwiceAndOnlyItsFirstName)
{
    remove_installation_folders();
    sandbox box;
    write_file(box.program_dir + L"\\url whitelist.txt", "other.test|program\n");
    write_file(box.program_dir + L"\\url_whitelist.txt", "rules.test/*|underscore\n");

    run_result run = box.run(route_arguments(url));
    const std::string file = check(narrow(box.program_dir) + "\\\\url whitelist.txt");
    EXPECT_EQ(checks(run), (std::vector<std::string>{file, check("(null)"), file})) << run.err;
    EXPECT_TRUE(run.logged("INFO", no_match));
}

TEST(Dispatch, KvxpsIsLookedUpAndHandedOnAsHttpsAndALocalFileIsNotLookedUp)
{
    remove_installation_folders();
    sandbox box;
    write_file(box.program_dir + L"\\url whitelist.txt", "kvxps://*|kept\n");
    const std::string file = narrow(box.program_dir) + "\\\\url whitelist.txt";
    // A local file opens in Internet Explorer, which the shell finds beside the program.
    box.copy_standin(L"browser_standin", box.program_dir + L"\\iexplore.exe");
    const std::string page = narrow(box.root) + "\\page.html";
    write_file(widen(page), "<html></html>");
    struct {
        std::string given, first_check, where_it_went;
    } const cases[] = {
        {"kvxps://rules.test/page", check(file), "open_url_in_kvix(https://rules.test/page)"},
        {page, "(no lookup)", "URL is actually a file. Opening locally."},
    };
    for (const auto& c : cases) {
        run_result run = box.run(route_arguments(c.given));
        std::vector<std::string> read = checks(run);
        EXPECT_EQ(read.empty() ? "(no lookup)" : read.front(), c.first_check) << c.given << "\n" << run.err;
        EXPECT_GE(run.find_record(c.where_it_went), 0) << c.given;
    }
}

}  // namespace
