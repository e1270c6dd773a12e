// Opening links and local files in a local browser: the shell by program
// name, the browser configured in ostrilo.cfg, and Internet Explorer as the
// last resort, as the stand-in browsers record their starts.
#include "sandbox.h"

#include <gtest/gtest.h>

namespace {

// Every link below "local.test" opens locally, in the browser the path names.
const char* const rules =
    "local.test/default/*|local\r\n"
    "local.test/firefox/*|local|firefox\r\n"
    "local.test/chrome/*|local|chrome\r\n"
    "local.test/edge/*|local|edge\r\n"
    "local.test/ie/*|local|ie\r\n";

const char* const new_method_failed =
    "WARN open_url_locally: new function open_url_locally_new(url, mode) failed, trying to open with 'old' method";
const char* const last_resort =
    "ERROR Couldn't generate browser call. Desperately trying to open url with IE (as last resort).";

// "-url" and the URL in double quotes, each double quote inside written as \".
std::wstring url_argument(const std::string& url)
{
    std::wstring argument = L"-url \"";
    for (wchar_t c : widen(url))
        argument += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    return argument + L"\"";
}

struct browser_sandbox : sandbox {
    const std::wstring ie = program_dir + L"\\iexplore.exe";
    const std::wstring configured = root + L"\\browsers\\Configured Browser\\browser.exe";
    // Internet Explorer is at hand as the last resort; the shell finds this
    // copy beside the program before Wine's own.
    explicit browser_sandbox(bool with_ie = true)
    {
        put(L"url_whitelist.txt", rules);
        if (with_ie)
            standin(ie);
    }
};

TEST(ShellRequest, EachRuleBrowserIsAskedForByProgramNameWithTheUrlAsParameters)
{
    const struct {
        std::string rule_browser;  // the browser field of the rule, and the path segment
        const wchar_t* program;    // the name the shell is asked for
        const char* log_name;      // how the DEBUG record of the shell request names it
        bool edge_installed = true;
    } cases[] = {{"firefox", L"firefox", "firefox"},
                 {"chrome", L"chrome", "chrome"},
                 {"edge", L"msedge", "edge"},
                 {"ie", L"iexplore", "IE"},
                 {"edge", L"msedge", "edge", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule_browser + (c.edge_installed ? "" : " without the fixed path"));
        browser_sandbox box;
        // Edge goes by program name only where it is installed, and otherwise
        // through its protocol. Wine looks protocols up in the machine-wide
        // classes only, so the handler is registered there.
        std::optional<program_aside> edge;
        if (c.rule_browser == "edge")
            edge.emplace(L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe",
                         c.edge_installed ? &box : nullptr);
        const std::wstring protocol = L"Software\\Classes\\microsoft-edge";
        const scoped_key handler_key(HKEY_LOCAL_MACHINE, protocol);
        const std::wstring handler = box.root + L"\\handler\\edge_protocol.exe",
                           beside = box.program_dir + L"\\" + c.program + L".exe";
        box.standin(handler);
        write_string(HKEY_LOCAL_MACHINE, protocol, L"URL Protocol", L"");
        write_string(HKEY_LOCAL_MACHINE, protocol + L"\\shell\\open\\command", L"", L"\"" + handler + L"\" \"%1\"");
        box.standin(beside);

        const std::string url = "https://local.test/" + c.rule_browser + "/a b/\"q\"?x=1&y=%20";
        const run_result run = box.run(url_argument(url));
        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.boxes.empty());
        // The URL is the whole parameter text: no quotes added, none escaped.
        // The protocol text is the URL directly behind the scheme, which the
        // shell puts in place of %1.
        const std::string calls = calls_of(c.edge_installed ? beside : handler);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 2) << calls;
        EXPECT_EQ(parameters_of(calls), c.edge_installed ? url : "\"microsoft-edge:" + url + "\"");
        EXPECT_EQ(calls_of(c.edge_installed ? handler : beside, false), "");
        EXPECT_TRUE(run.has("DEBUG open_url_locally_new: Opening " + url + " with " + c.log_name +
                            " (forcefully ignoring local_browser_" + c.rule_browser +
                            " in ostrilo.cfg even though it might be set)"))
            << run.err;
        EXPECT_TRUE(run.has("DEBUG open_url_locally: new function open_url_locally_new(url, mode) succeeded"));
        EXPECT_FALSE(run.has(new_method_failed));
        if (c.rule_browser != "ie")
            EXPECT_EQ(calls_of(box.ie, false), "");
    }
}

// What Wine's shell says when it cannot find a program or a protocol handler.
const std::string program_not_found = "Error: File not found.\r\n|";
const std::string no_protocol_handler = "Error: There is no Windows program configured to open this type of file.|";

// The shell cannot find a browser that is neither beside the program nor
// installed (and is not asked at all for the default browser); the old
// method then starts the browser configured for the rule, else Internet Explorer.
TEST(ConfiguredBrowser, StartsWhenTheShellFailsAndFallsBackToIeWhenMissing)
{
    const struct {
        std::string rule_browser;
        const char* config_key;  // the key of the old method
        bool key_set, file_present;
        std::string shell_boxes;  // the shell's own boxes for the browsers it could not find
    } cases[] = {
        {"default", "local_browser_bin", true, true, ""},
        {"firefox", "local_firefox", true, true, program_not_found},
        {"chrome", "local_chrome", false, false, program_not_found},
        {"edge", "local_edge", true, false, no_protocol_handler},
        {"ie", "local_ie", true, true, program_not_found},
        // Wine's own Internet Explorer out of the shell's reach: the last resort fails as well.
        {"ie", "local_ie", false, false, program_not_found + program_not_found},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule_browser + (c.key_set ? " key set" : "") + (c.file_present ? " file present" : ""));
        const bool ie_rule = c.rule_browser == "ie";
        std::optional<program_aside> system_ie, program_files_ie;
        if (ie_rule) {
            system_ie.emplace(system_folder() + L"\\iexplore.exe", nullptr);
            program_files_ie.emplace(real_program_files() + L"\\Internet Explorer\\iexplore.exe", nullptr);
        }
        browser_sandbox box(!ie_rule);
        std::string config = c.key_set ? std::string(c.config_key) + "=" + narrow(box.configured) + "\r\n" : "";
        // local_browser_bin names a working browser, but a named browser never uses it.
        const std::wstring default_browser = box.root + L"\\browsers\\default.exe";
        if (c.rule_browser != "default") {
            config += "local_browser_bin=" + narrow(default_browser) + "\r\n";
            box.standin(default_browser);
        }
        box.put(L"ostrilo.cfg", config);
        if (c.file_present)
            box.standin(box.configured);
        const std::string url = "https://local.test/" + c.rule_browser + "/a b/\"q\"";
        const std::string call = "\"" + narrow(box.configured) + "\" \"" + url + "\"";

        const run_result run = box.run(url_argument(url));

        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.has(new_method_failed)) << run.err;
        std::string shown;
        for (const message_box& each : run.boxes)
            shown += narrow(each.title) + ": " + narrow(each.text) + "|";
        EXPECT_EQ(shown, c.shell_boxes);
        // The quote inside the URL stands unchanged between the outer quotes;
        // the browser starts in Ostrilo's own current folder.
        EXPECT_EQ(calls_of(box.configured, c.file_present), c.file_present ? call + "\n" + narrow(box.cwd) + "\n" : "");
        EXPECT_EQ(run.has("INFO Browser call: <" + call + ">"), c.file_present);
        EXPECT_EQ(run.has(last_resort), !c.file_present);
        EXPECT_EQ(run.has("ERROR create_browser_call: Error: file '" + narrow(box.configured) +
                          "' doesn't exist! Will desperately try to open the URL locally using IE"),
                  c.key_set && !c.file_present);
        // Internet Explorer is started exactly when no browser call could be made.
        if (!ie_rule)
            EXPECT_EQ(parameters_of(calls_of(box.ie, !c.file_present)), c.file_present ? "" : url);
        EXPECT_EQ(calls_of(default_browser, false), "");
    }
}

TEST(ConfiguredBrowser, ProgramThatCannotBeStartedEndsTheRunWithTheBox)
{
    browser_sandbox box;
    const std::wstring not_a_program = box.root + L"\\browsers\\readme.txt";
    write_file(not_a_program, "not a program");
    box.put(L"ostrilo.cfg", "local_browser_bin=" + narrow(not_a_program) + "\r\n");
    const run_result run = box.run(url_argument("https://local.test/default/page"));
    ASSERT_EQ(run.boxes.size(), 1u) << run.err;
    EXPECT_TRUE(run.boxes[0].text.starts_with(L"Der Start des lokalen Browsers ist fehlgeschlagen."));
    EXPECT_EQ(run.boxes[0].title, L"Feldrun Corvane-Pro Browserweiche Feldrun: Fehler");
    EXPECT_NE(run.exit_code, 0u);
    EXPECT_FALSE(run.has("INFO Finished, goodbye."));
    EXPECT_EQ(calls_of(box.ie, false), "");
}

TEST(DefaultBrowser, GetsLocalFilesWithoutRuleAndCallsCutAt4095Characters)
{
    browser_sandbox box;
    // Blanks and non-ASCII characters, read from ostrilo.cfg as UTF-8.
    const std::wstring browser = box.root + L"\\Br\u00F6wser \u00FC\u20AC\\st\u00E4rt.exe";
    box.put(L"ostrilo.cfg", "local_browser_bin=" + narrow(browser) + "\r\n");
    box.standin(browser);
    const std::wstring page = box.root + L"\\pages\\start page.html";
    write_file(page, "<html></html>");
    // The cut counts UTF-16 characters, not the bytes of the non-ASCII path
    // and URL, and takes the closing quote with the rest of the URL.
    for (const std::string& target : {narrow(page), "https://local.test/default/\xC3\xA4" + std::string(4200, 'x')}) {
        DeleteFileW((browser + L".calls.txt").c_str());
        const run_result run = box.run(url_argument(target));
        const std::string calls = calls_of(browser);
        EXPECT_EQ(widen(calls.substr(0, calls.find('\n'))),
                  (L"\"" + browser + L"\" \"" + widen(target) + L"\"").substr(0, 4095));
        EXPECT_EQ(run.has("INFO URL is actually a file. Opening locally."), target == narrow(page));
        EXPECT_TRUE(run.has("INFO Finished, goodbye."));
    }
}

}  // namespace
