// Routing a URL by the rule files: the order of the places, the two file names
// and the preset rule file. Most rules name a destination that is neither
// "local" nor "remote": the run then stops with status 1 right after the
// lookup, and the " --> dest: <...>" record names the rule that matched.
#include "sandbox.h"

#include <gtest/gtest.h>

namespace {

const std::string url = "https://rules.test/page";

// The rule file checks of the run, in order, one line each.
std::string checks(const run_result& run)
{
    std::string found;
    for (const std::string& record : run.records())
        if (record.starts_with("DEBUG * Check URL '"))
            found += record.substr(6) + "\n";
    return found;
}

TEST(LookupOrder, EachPlaceWinsOverTheLaterOnes)
{
    // The places holding a rule file, in lookup order: P the preset file (p: one
    // that does not match), C the -configdir folder, I the installation folder,
    // A %APPDATA%\vnc, G the program folder. The first upper-case one wins.
    const std::string places = "PCIAG", names[] = {"preset", "configdir", "installation", "appdata", "program"};
    for (const std::string with_rules : {"PCIAG", "CIAG", "IAG", "AG", "G", "pCG"}) {
        SCOPED_TRACE(with_rules);
        sandbox box;
        const scoped_path install(real_program_files() + L"\\Corvane-Pro");
        // The program folder ends in a backslash, and a backslash is always
        // added. The folder vnc shows that the second name is read when alone.
        const std::string paths[] = {
            narrow(box.root) + "\\preset\\url whitelist.txt", narrow(box.root) + "\\configdir\\url whitelist.txt",
            narrow(install.path) + "\\url whitelist.txt", narrow(box.appdata) + "\\vnc\\url_whitelist.txt",
            narrow(box.program_dir) + "\\\\url whitelist.txt"};
        write_file(box.root + L"\\configdir\\x", "");
        for (char p : with_rules) {
            const std::size_t at = p == 'p' ? 0 : places.find(p);
            write_file(widen(paths[at]), (p == 'p' ? "other.test|" : "rules.test/*|") + names[at] + "\n");
        }
        const bool preset = with_rules[0] == 'P' || with_rules[0] == 'p';
        box.put(L"ostrilo.cfg", preset ? "whitelist_path=" + paths[0] + "\n" : "");
        const run_result run = box.run(L"-url \"" + widen(url) + L"\" -configdir \"" + box.root + L"\\configdir\"");
        // The places after the winner are not consulted.
        const std::size_t winner = places.find(with_rules[with_rules[0] == 'p']);
        std::string expected;
        for (std::size_t p = preset ? 0 : 1; p <= winner; ++p) {
            const bool has_file = p == 0 || with_rules.find(places[p]) != std::string::npos;
            expected += "* Check URL '" + url + "' in whitelist '" + (has_file ? paths[p] : "(null)") + "'\n";
        }
        EXPECT_EQ(checks(run), expected);
        const std::string records = "TRACE  --> dest: <" + names[winner] + ">\n" + (preset ? "" : "!") +
                                    "DEBUG Found predefined whitelist path. Checking if url is in whitelist in this "
                                    "file: " +
                                    paths[0] + "\nDEBUG URL to compare is now: rules.test/page";
        EXPECT_EQ(box.outcome(run, records), "exit 1\n" + records);
    }
}

TEST(Dispatch, KvxpsIsLookedUpAndHandedOnAsHttps)
{
    remove_tree(real_program_files() + L"\\Corvane-Pro");  // the program folder stands in for the installation
    sandbox box;
    box.put(L"url whitelist.txt", "kvxps://*|kept\n");
    const run_result run = box.run(L"-url \"kvxps://rules.test/page\"");
    EXPECT_TRUE(checks(run).starts_with("* Check URL '" + url + "' in whitelist '" + narrow(box.program_dir) +
                                        "\\\\url whitelist.txt'\n"));
    EXPECT_TRUE(run.has("DEBUG open_url_in_kvix(https://rules.test/page)")) << run.err;
}

}  // namespace
