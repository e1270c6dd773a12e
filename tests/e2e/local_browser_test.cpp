// Opening links and local files in a local browser: the shell by program
// name, the browser configured in ostrilo.cfg, and Internet Explorer as the
// last resort, as the stand-in browsers record their starts.
#include "sandbox.h"

#include <gtest/gtest.h>

namespace {

// Every link below "local.test" opens locally, in the browser the path names.
const char* const rules =
    "local.test/default/*|local\r\nlocal.test/firefox/*|local|firefox\r\nlocal.test/chrome/*|local|chrome\r\n"
    "local.test/edge/*|local|edge\r\nlocal.test/ie/*|local|ie\r\n";

// "-url" and the URL in double quotes, each double quote inside written as \".
std::wstring url_argument(const std::string& url)
{
    std::wstring argument = L"-url \"";
    for (wchar_t c : widen(url))
        argument += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    return argument + L"\"";
}

TEST(ShellRequest, EachRuleBrowserIsAskedForByProgramNameWithTheUrlAsParameters)
{
    // The rule's browser, the stand-in that starts and its parameters ("%U" the
    // URL: no quotes added, none escaped), and the name in the record. Edge goes
    // by program name only where it is installed, else through its protocol,
    // whose handler Wine looks up in the machine-wide classes only.
    // clang-format off
    const std::tuple<std::string, std::string, const char*, bool> cases[] = {
        {"firefox", "firefox: %U", "firefox", false}, {"chrome", "chrome: %U", "chrome", false},
        {"edge", "msedge: %U", "edge", true}, {"ie", "iexplore: %U", "IE", false},
        {"edge", "protocol: \"microsoft-edge:%U\"", "edge", false}};
    // clang-format on
    for (const auto& [rule_browser, start, log_name, edge_installed] : cases) {
        sandbox box;
        box.standins();
        box.put(L"url_whitelist.txt", rules);
        const program_aside edge(L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe",
                                 edge_installed ? &box : nullptr);
        const std::wstring protocol = L"Software\\Classes\\microsoft-edge";
        const scoped_key handler_key(HKEY_LOCAL_MACHINE, protocol);
        box.standin(box.standin_path("protocol"));
        write_string(HKEY_LOCAL_MACHINE, protocol, L"URL Protocol", L"");
        write_string(HKEY_LOCAL_MACHINE, protocol + L"\\shell\\open\\command", L"",
                     L"\"" + box.standin_path("protocol") + L"\" \"%1\"");
        const std::string url = "https://local.test/" + rule_browser + "/a b/\"q\"?x=1&y=%20";
        const std::string expected = "exit 0\n" + start.substr(0, start.find("%U")) + url +
                                     start.substr(start.find("%U") + 2) + "\nDEBUG open_url_locally_new: Opening " +
                                     url + " with " + log_name + " (forcefully ignoring local_browser_" + rule_browser +
                                     " in ostrilo.cfg even though it might be set)" +
                                     "\nDEBUG open_url_locally: new function open_url_locally_new(url, mode) succeeded";
        EXPECT_EQ(box.outcome(box.run(url_argument(url)), expected), expected);
    }
}

// The shell cannot find a browser that is neither beside the program nor
// installed (and is not asked at all for the default browser); the old
// method then starts the browser configured for the rule, else Internet Explorer.
TEST(ConfiguredBrowser, StartsWhenTheShellFailsAndFallsBackToIeWhenMissing)
{
    // What Wine's shell shows when it cannot find a program or a protocol handler.
    const std::string not_found = "\nbox: Error: File not found.\r\n",
                      no_handler = "\nbox: Error: There is no Windows program configured to open this type of file.";
    // The rule's browser, the key of the old method, whether it is set and
    // whether its browser is there, the shell's boxes.
    const std::tuple<std::string, std::string, bool, bool, std::string> cases[] = {
        {"default", "local_browser_bin", true, true, ""},
        {"firefox", "local_firefox", true, true, not_found},
        {"chrome", "local_chrome", false, false, not_found},
        {"edge", "local_edge", true, false, no_handler},
        {"ie", "local_ie", true, true, not_found},
        // Wine's own Internet Explorer out of the shell's reach: the last resort fails as well.
        {"ie", "local_ie", false, false, not_found + not_found},
    };
    for (const auto& [rule_browser, key, key_set, present, shell_boxes] : cases) {
        SCOPED_TRACE(rule_browser + (key_set ? " key set" : "") + (present ? " browser present" : ""));
        const bool ie_rule = rule_browser == "ie";
        std::optional<program_aside> system_ie, program_files_ie;
        if (ie_rule) {
            system_ie.emplace(system_folder() + L"\\iexplore.exe", nullptr);
            program_files_ie.emplace(real_program_files() + L"\\Internet Explorer\\iexplore.exe", nullptr);
        }
        sandbox box;
        box.put(L"url_whitelist.txt", rules);
        // local_browser_bin names a working browser, but a named browser never uses it.
        const std::string browser = narrow(box.standin_path("browser"));
        std::string config = key_set ? key + "=" + browser + "\r\n" : "";
        if (rule_browser != "default") {
            config += "local_browser_bin=" + narrow(box.standin_path("default")) + "\r\n";
            box.standin(box.standin_path("default"));
        }
        box.put(L"ostrilo.cfg", config);
        for (const std::string name : {"browser", "iexplore"})
            if (name == "browser" ? present : !ie_rule)
                box.standin(box.standin_path(name));
        const std::string url = "https://local.test/" + rule_browser + "/a b/\"q\"";
        const std::string call = "\"" + browser + "\" \"" + url + "\"";
        const run_result run = box.run(url_argument(url));
        // The quote inside the URL stands unchanged between the outer quotes.
        const std::string expected =
            "exit 0" + shell_boxes +
            (present   ? "\nbrowser: \"" + url + "\""
             : ie_rule ? ""
                       : "\niexplore: " + url) +
            "\nWARN open_url_locally: new function open_url_locally_new(url, mode) failed, trying to open with 'old' "
            "method\n" +
            (present ? "" : "!") + "INFO Browser call: <" + call + ">\n" + (present ? "!" : "") +
            "ERROR Couldn't generate browser call. Desperately trying to open url with IE (as last resort).\n" +
            (key_set && !present ? "" : "!") + "ERROR create_browser_call: Error: file '" + browser +
            "' doesn't exist! Will desperately try to open the URL locally using IE";
        EXPECT_EQ(box.outcome(run, expected), expected);
        // The browser starts in Ostrilo's own current folder.
        EXPECT_TRUE(!present || calls_of(box.standin_path("browser")).ends_with("\n" + narrow(box.cwd) + "\n"));
    }
}

TEST(ConfiguredBrowser, GetsLocalFilesWithoutRuleFromAPathReadAsUtf8OrEndsTheRunWithTheBoxWhenItCannotStart)
{
    sandbox box;
    const std::wstring browser = box.root + L"\\Br\u00F6wser \u00FC\u20AC\\st\u00E4rt.exe",
                       page = box.root + L"\\pages\\start page.html";
    box.standin(browser);
    write_file(page, "<html></html>");
    box.put(L"ostrilo.cfg", "local_browser_bin=" + narrow(browser) + "\r\n");
    const run_result run = box.run(url_argument(narrow(page)));
    EXPECT_EQ(calls_of(browser), "\"" + narrow(browser) + "\" \"" + narrow(page) + "\"\n" + narrow(box.cwd) + "\n");
    EXPECT_EQ(box.outcome(run, "INFO URL is actually a file. Opening locally."),
              "exit 0\nINFO URL is actually a file. Opening locally.");
    write_file(browser, "not a program");
    EXPECT_EQ(box.outcome(box.run(url_argument(narrow(page)))),
              "exit 2\nbox: Feldrun Corvane-Pro Browserweiche Feldrun: Fehler: Der Start des lokalen Browsers ist "
              "fehlgeschlagen.");
}

}  // namespace
