// Opening links and local files in a local browser: the shell by program
// name, the browser configured in ostrilo.cfg, and Internet Explorer as the
// last resort, as the stand-in browsers record their starts.
#include "registry_guard.h"
#include "sandbox.h"
#include "standin_calls.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// Every link below "local.test" opens locally, in the browser the path names.
const char* const rules =
    "local.test/default/*|local\r\n"
    "local.test/firefox/*|local|firefox\r\n"
    "local.test/chrome/*|local|chrome\r\n"
    "local.test/edge/*|local|edge\r\n"
    "local.test/ie/*|local|ie\r\n";

const std::wstring edge_path = L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";

struct browser {
    std::string rule_browser;  // the browser field of the rule, and the path segment
    const wchar_t* program;    // the name the shell is asked for; none: no shell request
    const char* config_key;    // the key of the old method
    const char* log_name;      // how the DEBUG record of the shell request names it
};

const browser browsers[] = {
    {"default", nullptr, "local_browser_bin", nullptr},
    {"firefox", L"firefox", "local_firefox", "firefox"},
    {"chrome", L"chrome", "local_chrome", "chrome"},
    {"edge", L"msedge", "local_edge", "edge"},
    {"ie", L"iexplore", "local_ie", "IE"},
};

std::string url_for(const std::string& rule_browser, const std::string& rest = "page")
{
    return "https://local.test/" + rule_browser + "/" + rest;
}

// "-url" and the URL as one argument: in double quotes, with each double
// quote inside written as \" (the URLs here have no backslash before one).
std::wstring url_argument(const std::string& url)
{
    std::wstring argument;
    for (wchar_t c : widen(url)) {
        if (c == L'"')
            argument += L'\\';
        argument += c;
    }
    return L"-url \"" + argument + L"\"";
}

const char* const new_method_succeeded = "open_url_locally: new function open_url_locally_new(url, mode) succeeded";
const char* const new_method_failed =
    "open_url_locally: new function open_url_locally_new(url, mode) failed, trying to open with 'old' method";
const char* const last_resort =
    "Couldn't generate browser call. Desperately trying to open url with IE (as last resort).";

struct browser_sandbox : sandbox {
    explicit browser_sandbox(bool with_ie = true)
    {
        write_file(program_dir + L"\\url_whitelist.txt", rules);
        // Internet Explorer is at hand as the last resort; the shell finds
        // this copy beside the program before Wine's own.
        if (with_ie)
            copy_standin(L"browser_standin", ie());
    }
    std::wstring beside(const wchar_t* program) const { return program_dir + L"\\" + program + L".exe"; }
    std::wstring ie() const { return beside(L"iexplore"); }
    std::wstring configured() const { return root + L"\\browsers\\Configured Browser\\browser.exe"; }
};

std::string call_for(const std::wstring& browser, const std::string& url)
{
    return "\"" + narrow(browser) + "\" \"" + url + "\"";
}

TEST(ShellRequest, EachRuleBrowserIsAskedForByProgramNameWithTheUrlAsParameters)
{
    for (const browser& b : browsers) {
        for (const bool edge_installed : {true, false}) {
            if (!b.program || (!edge_installed && b.rule_browser != "edge"))
                continue;
            const std::string label = b.rule_browser + (edge_installed ? "" : " without the fixed path");
            browser_sandbox box;
            // Edge goes by program name only where it is installed, and
            // otherwise through its protocol. Wine looks protocols up in the
            // machine-wide classes only, so the handler is registered there.
            std::optional<prefix_program_aside> edge;
            if (b.rule_browser == "edge")
                edge.emplace(edge_path, edge_installed ? &box : nullptr);
            const std::wstring protocol = L"Software\\Classes\\microsoft-edge";
            registry_guard guard({{HKEY_LOCAL_MACHINE, protocol}});
            std::wstring handler = box.root + L"\\handler\\edge_protocol.exe";
            box.copy_standin(L"browser_standin", handler);
            write_string(HKEY_LOCAL_MACHINE, protocol, L"URL Protocol", L"");
            write_string(HKEY_LOCAL_MACHINE, protocol + L"\\shell\\open\\command", L"", L"\"" + handler + L"\" \"%1\"");
            box.copy_standin(L"browser_standin", box.beside(b.program));

            std::string url = url_for(b.rule_browser, "a b/\"q\"?x=1&y=%20");
            run_result run = box.run(url_argument(url));
            EXPECT_EQ(run.exit_code, 0u) << label;
            EXPECT_TRUE(run.boxes.empty()) << label;
            std::vector<standin_call> calls = wait_for_calls(edge_installed ? box.beside(b.program) : handler);
            ASSERT_EQ(calls.size(), 1u) << label << "\n" << run.err;
            // The URL is the whole parameter text: no quotes added, none
            // escaped. The protocol text is the URL directly behind the
            // scheme, which the shell puts in place of %1.
            EXPECT_EQ(parameters_of(calls[0].command_line), edge_installed ? url : "\"microsoft-edge:" + url + "\"")
                << label;
            EXPECT_TRUE(recorded_calls(edge_installed ? handler : box.beside(b.program)).empty()) << label;
            EXPECT_TRUE(run.logged("DEBUG", "open_url_locally_new: Opening " + url + " with " + b.log_name +
                                                " (forcefully ignoring local_browser_" + b.rule_browser +
                                                " in ostrilo.cfg even though it might be set)"))
                << label << "\n" << run.err;
            EXPECT_TRUE(run.logged("DEBUG", new_method_succeeded)) << label;
            EXPECT_FALSE(run.logged("WARN", new_method_failed)) << label;
            if (b.rule_browser != "ie") {
                EXPECT_TRUE(recorded_calls(box.ie()).empty()) << label;
            }
        }
    }
}

// What Wine's shell says when it cannot find a program or a protocol handler.
const std::string program_not_found = "Error: File not found.\r\n|";
const std::string no_protocol_handler = "Error: There is no Windows program configured to open this type of file.|";

std::string shown(const std::vector<message_box>& boxes)
{
    std::string text;
    for (const message_box& box : boxes)
        text += narrow(box.title) + ": " + narrow(box.text) + "|";
    return text;
}

struct fallback_case {
    const char* behaviour;
    bool key_set;
    bool file_present;
};

// The shell cannot find a browser that is neither beside the program nor
// installed (and is not asked at all for the default browser); the old
// method then starts the browser configured for the rule.
TEST(ConfiguredBrowser, StartsWhenTheShellFailsAndFallsBackToIeWhenMissing)
{
    const fallback_case cases[] = {
        {"configured path present", true, true},
        {"key missing", false, false},
        {"configured file does not exist", true, false},
    };
    for (const browser& b : browsers) {
        for (const fallback_case& c : cases) {
            const std::string label = b.rule_browser + ": " + c.behaviour;
            // For the IE rule, Wine's own Internet Explorer is out of the
            // shell's reach (in the system folder and through its program path
            // registration), so the last resort fails as well.
            const bool ie_rule = b.rule_browser == "ie";
            std::optional<prefix_program_aside> system_ie, program_files_ie;
            if (ie_rule) {
                system_ie.emplace(system_folder() + L"\\iexplore.exe");
                program_files_ie.emplace(real_program_files() + L"\\Internet Explorer\\iexplore.exe");
            }
            browser_sandbox box(!ie_rule);
            std::string config = c.key_set ? std::string(b.config_key) + "=" + narrow(box.configured()) + "\r\n" : "";
            // local_browser_bin names a working browser, but a named browser never uses it.
            std::wstring default_browser = box.root + L"\\browsers\\default.exe";
            if (b.program) {
                config += "local_browser_bin=" + narrow(default_browser) + "\r\n";
                box.copy_standin(L"browser_standin", default_browser);
            }
            write_file(box.program_dir + L"\\ostrilo.cfg", config);
            if (c.file_present)
                box.copy_standin(L"browser_standin", box.configured());
            std::string url = url_for(b.rule_browser, "a b/\"q\"");
            run_result run = box.run(url_argument(url));
            EXPECT_EQ(run.exit_code, 0u) << label;
            EXPECT_TRUE(run.logged("WARN", new_method_failed)) << label << "\n" << run.err;

            // The shell's own boxes for the browsers it could not find; Ostrilo shows none.
            std::string boxes = b.program ? (b.rule_browser == "edge" ? no_protocol_handler : program_not_found) : "";
            if (ie_rule && !c.file_present)
                boxes += program_not_found;  // the last resort, not found either
            EXPECT_EQ(shown(run.boxes), boxes) << label;

            if (c.file_present) {
                std::vector<standin_call> calls = wait_for_calls(box.configured());
                ASSERT_EQ(calls.size(), 1u) << label;
                // The quote inside the URL stands unchanged between the outer
                // quotes; the browser starts in Ostrilo's own current folder.
                EXPECT_EQ(calls[0].command_line, call_for(box.configured(), url)) << label;
                EXPECT_EQ(calls[0].folder, narrow(box.cwd)) << label;
                EXPECT_TRUE(run.logged("INFO", "Browser call: <" + call_for(box.configured(), url) + ">")) << label;
                EXPECT_TRUE(run.logged("DEBUG", "Found 'local_browser' setting in ostrilo.cfg. Won't check registry "
                                                "for other possible browsers."));
                EXPECT_TRUE(run.logged("DEBUG", "creating process now")) << label;
                EXPECT_TRUE(run.logged("TRACE", "returning from open_url_locally()")) << label;
            } else {
                EXPECT_TRUE(run.logged("ERROR", last_resort)) << label;
                EXPECT_GT(run.find_record(last_resort), run.find_record(new_method_failed)) << label;
                EXPECT_EQ(run.logged("ERROR", "create_browser_call: Error: file '" + narrow(box.configured()) +
                                                  "' doesn't exist! Will desperately try to open the URL locally "
                                                  "using IE"),
                          c.key_set)
                    << label;
            }
            if (!ie_rule) {
                // Internet Explorer is started exactly when no browser call could be made.
                std::vector<standin_call> calls = c.file_present ? recorded_calls(box.ie()) : wait_for_calls(box.ie());
                ASSERT_EQ(calls.size(), c.file_present ? 0u : 1u) << label;
                if (!calls.empty()) {
                    EXPECT_EQ(parameters_of(calls[0].command_line), url) << label;
                }
            }
            EXPECT_TRUE(recorded_calls(default_browser).empty()) << label;
        }
    }
}

TEST(ConfiguredBrowser, ProgramThatCannotBeStartedEndsTheRunWithTheBox)
{
    browser_sandbox box;
    std::wstring not_a_program = box.root + L"\\browsers\\readme.txt";
    write_file(not_a_program, "not a program");
    write_file(box.program_dir + L"\\ostrilo.cfg", "local_browser_bin=" + narrow(not_a_program) + "\r\n");
    run_result run = box.run(url_argument(url_for("default")));
    ASSERT_EQ(run.boxes.size(), 1u) << run.err;
    EXPECT_EQ(run.boxes[0].text.rfind(L"Der Start des lokalen Browsers ist fehlgeschlagen.", 0), 0u)
        << narrow(run.boxes[0].text);
    EXPECT_EQ(run.boxes[0].title, L"Feldrun Corvane-Pro Browserweiche Feldrun: Fehler");
    EXPECT_NE(run.exit_code, 0u);
    EXPECT_FALSE(run.logged("INFO", "Finished, goodbye."));
    EXPECT_TRUE(recorded_calls(box.ie()).empty());
}

TEST(DefaultBrowser, GetsLocalFilesWithoutRuleAndCallsCutAt4095Characters)
{
    browser_sandbox box;
    // Blanks and non-ASCII characters, read from ostrilo.cfg as UTF-8.
    const std::wstring browser = box.root + L"\\Br\u00F6wser \u00FC\u20AC\\st\u00E4rt.exe";
    write_file(box.program_dir + L"\\ostrilo.cfg", "local_browser_bin=" + narrow(browser) + "\r\n");
    box.copy_standin(L"browser_standin", browser);
    const std::wstring page = box.root + L"\\pages\\start page.html";
    write_file(page, "<html></html>");
    // The cut counts UTF-16 characters, not the bytes of the non-ASCII path
    // and URL, and takes the closing quote with the rest of the URL.
    for (const std::string& target : {narrow(page), url_for("default", "\xC3\xA4" + std::string(4200, 'x'))}) {
        DeleteFileW(calls_file(browser).c_str());
        run_result run = box.run(url_argument(target));
        std::vector<standin_call> calls = wait_for_calls(browser);
        ASSERT_EQ(calls.size(), 1u) << run.err;
        EXPECT_EQ(widen(calls[0].command_line), widen(call_for(browser, target)).substr(0, 4095));
        EXPECT_EQ(run.logged("INFO", "URL is actually a file. Opening locally."), target == narrow(page));
        EXPECT_TRUE(run.logged("INFO", "Finished, goodbye."));
        EXPECT_EQ(run.exit_code, 0u);
    }
}

}  // namespace
