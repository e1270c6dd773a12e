// Opening links and local files in a local browser: the shell by program
// name, the browser configured in ostrilo.cfg, and Internet Explorer as the
// last resort, as the stand-in browsers record their starts.
#include "registry_guard.h"
#include "sandbox.h"
#include "standin_calls.h"

#include <gtest/gtest.h>

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

const std::wstring edge_folder = L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application";
const std::wstring edge_path = edge_folder + L"\\msedge.exe";

struct browser {
    const char* rule_browser;  // the browser field of the rule, and the path segment
    int mode;
    const wchar_t* program;    // the name the shell is asked for
    const char* config_key;    // the key of the old method
    const char* log_name;      // how the DEBUG record names it
    const char* ignored_key;   // the key the DEBUG record names
};

const browser browsers[] = {
    {"firefox", 2, L"firefox", "local_firefox", "firefox", "local_browser_firefox"},
    {"chrome", 3, L"chrome", "local_chrome", "chrome", "local_browser_chrome"},
    {"edge", 4, L"msedge", "local_edge", "edge", "local_browser_edge"},
    {"ie", 5, L"iexplore", "local_ie", "IE", "local_browser_ie"},
};

std::string url_for(const char* rule_browser, const char* rest = "page")
{
    return std::string("https://local.test/") + rule_browser + "/" + rest;
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

std::string shell_record(const browser& b, const std::string& url)
{
    return "open_url_locally_new: Opening " + url + " with " + b.log_name + " (forcefully ignoring " +
           b.ignored_key + " in ostrilo.cfg even though it might be set)";
}

const char* const new_method_failed =
    "open_url_locally: new function open_url_locally_new(url, mode) failed, trying to open with 'old' method";
const char* const last_resort =
    "Couldn't generate browser call. Desperately trying to open url with IE (as last resort).";

// The fixed Edge path exists only for the tests that create it.
class installed_edge {
public:
    explicit installed_edge(const sandbox& box)
    {
        created_folder_ = !path_exists(edge_folder);
        box.copy_standin(L"browser_standin", edge_path);
    }
    ~installed_edge()
    {
        DeleteFileW(calls_file(edge_path).c_str());
        DeleteFileW(edge_path.c_str());
        if (created_folder_) {
            RemoveDirectoryW(edge_folder.c_str());
            RemoveDirectoryW((real_program_files_x86() + L"\\Microsoft\\Edge").c_str());
            RemoveDirectoryW((real_program_files_x86() + L"\\Microsoft").c_str());
        }
    }
    installed_edge(const installed_edge&) = delete;
    installed_edge& operator=(const installed_edge&) = delete;

private:
    bool created_folder_ = false;
};

// A handler for the microsoft-edge: protocol that points at a stand-in. Wine
// looks protocols up in the machine-wide classes only (it does not merge the
// user's classes into them), so the handler is registered there.
class edge_protocol_handler {
public:
    edge_protocol_handler(const sandbox& box, const std::wstring& handler)
        : guard_({{HKEY_LOCAL_MACHINE, L"Software\\Classes\\microsoft-edge"}})
    {
        box.copy_standin(L"browser_standin", handler);
        write_string(HKEY_LOCAL_MACHINE, L"Software\\Classes\\microsoft-edge", L"URL Protocol", L"");
        write_string(HKEY_LOCAL_MACHINE, L"Software\\Classes\\microsoft-edge\\shell\\open\\command", L"",
                     L"\"" + handler + L"\" \"%1\"");
    }

private:
    registry_guard guard_;
};

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

TEST(ShellRequest, EachRuleBrowserIsAskedForByProgramNameWithTheUrlAsParameters)
{
    for (const browser& b : browsers) {
        browser_sandbox box;
        std::wstring standin = box.beside(b.program);
        box.copy_standin(L"browser_standin", standin);
        // Edge goes by program name only where it is installed.
        std::optional<installed_edge> edge;
        if (b.mode == 4)
            edge.emplace(box);
        std::string url = url_for(b.rule_browser, "a b/\"q\"?x=1&y=%20");
        run_result run = box.run(url_argument(url));
        EXPECT_EQ(run.exit_code, 0u) << b.rule_browser;
        EXPECT_TRUE(run.boxes.empty()) << b.rule_browser;
        std::vector<standin_call> calls = wait_for_calls(standin);
        ASSERT_EQ(calls.size(), 1u) << b.rule_browser << "\n" << run.err;
        // The URL is the whole parameter text: no quotes added, none escaped.
        EXPECT_EQ(parameters_of(calls[0].command_line), url) << b.rule_browser;
        EXPECT_TRUE(run.logged("DEBUG", shell_record(b, url))) << b.rule_browser << "\n" << run.err;
        EXPECT_TRUE(run.logged("DEBUG", "open_url_locally: new function open_url_locally_new(url, mode) succeeded"));
        EXPECT_FALSE(run.logged("WARN", new_method_failed));
        if (b.mode != 5) {
            EXPECT_TRUE(recorded_calls(box.ie()).empty()) << b.rule_browser;
        }
    }
}

TEST(ShellRequest, EdgeWithoutItsFixedPathIsOpenedThroughItsProtocol)
{
    browser_sandbox box;
    ASSERT_FALSE(path_exists(edge_path));
    std::wstring handler = box.root + L"\\handler\\edge_protocol.exe";
    edge_protocol_handler protocol(box, handler);
    // An msedge.exe beside the program is not asked for without the fixed path.
    box.copy_standin(L"browser_standin", box.beside(L"msedge"));
    std::string url = url_for("edge", "a b");
    run_result run = box.run(url_argument(url));
    std::vector<standin_call> calls = wait_for_calls(handler);
    ASSERT_EQ(calls.size(), 1u) << run.err;
    // The shell puts the protocol text, URL directly behind it, in place of %1.
    EXPECT_EQ(calls[0].command_line, "\"" + narrow(handler) + "\" \"microsoft-edge:" + url + "\"");
    EXPECT_TRUE(recorded_calls(box.beside(L"msedge")).empty());
    EXPECT_TRUE(run.logged("DEBUG", "open_url_locally: new function open_url_locally_new(url, mode) succeeded"));
}

// Wine's own Internet Explorer, out of the shell's reach for the lifetime of
// the object: the shell finds it in the system folder and through its
// program path registration.
class hidden_wine_ie {
public:
    hidden_wine_ie()
    {
        wchar_t system[MAX_PATH] = L"";
        GetSystemDirectoryW(system, MAX_PATH);
        for (const std::wstring& path :
             {std::wstring(system) + L"\\iexplore.exe", real_program_files() + L"\\Internet Explorer\\iexplore.exe"}) {
            std::wstring hidden = path + L".ostrilo-hidden";
            // A run that ended abruptly may have left it hidden.
            if (path_exists(hidden))
                MoveFileExW(hidden.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
            if (MoveFileW(path.c_str(), hidden.c_str()))
                hidden_.push_back(path);
        }
    }
    ~hidden_wine_ie()
    {
        for (const std::wstring& path : hidden_)
            MoveFileExW((path + L".ostrilo-hidden").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    hidden_wine_ie(const hidden_wine_ie&) = delete;
    hidden_wine_ie& operator=(const hidden_wine_ie&) = delete;

private:
    std::vector<std::wstring> hidden_;
};

// What Wine's shell says when it cannot find a program or a protocol handler.
const message_box program_not_found{L"Error", L"File not found.\r\n"};
const message_box no_protocol_handler{L"Error", L"There is no Windows program configured to open this type of file."};

// The shell cannot find a browser that is neither beside the program nor
// installed; the old method then starts the browser configured for the rule.
struct fallback_case {
    const char* behaviour;
    bool key_set;
    bool file_present;
};

TEST(ConfiguredBrowser, StartsWhenTheShellFailsAndFallsBackToIeWhenMissing)
{
    const fallback_case cases[] = {
        {"configured path present", true, true},
        {"key missing", false, false},
        {"configured file does not exist", true, false},
    };
    for (const browser& b : browsers) {
        for (const fallback_case& c : cases) {
            std::string label = std::string(b.rule_browser) + ": " + c.behaviour;
            // For the IE rule, no Internet Explorer can be found at all, so
            // the last resort fails as well.
            const bool ie_rule = b.mode == 5;
            std::optional<hidden_wine_ie> hidden;
            if (ie_rule)
                hidden.emplace();
            browser_sandbox probe(!ie_rule);
            std::string config = c.key_set ? std::string(b.config_key) + "=" + narrow(probe.configured()) + "\r\n" : "";
            // local_browser_bin names a working browser, but a named browser never uses it.
            std::wstring default_browser = probe.root + L"\\browsers\\default.exe";
            config += "local_browser_bin=" + narrow(default_browser) + "\r\n";
            write_file(probe.program_dir + L"\\ostrilo.cfg", config);
            probe.copy_standin(L"browser_standin", default_browser);
            if (c.file_present)
                probe.copy_standin(L"browser_standin", probe.configured());
            std::string url = url_for(b.rule_browser);
            run_result run = probe.run(url_argument(url));
            EXPECT_EQ(run.exit_code, 0u) << label;
            EXPECT_TRUE(run.logged("WARN", new_method_failed)) << label << "\n" << run.err;

            // The shell's own box for the browser it could not find; Ostrilo shows none.
            std::vector<message_box> boxes = {b.mode == 4 ? no_protocol_handler : program_not_found};
            if (ie_rule && !c.file_present)
                boxes.push_back(program_not_found);  // the last resort, not found either
            ASSERT_EQ(run.boxes.size(), boxes.size()) << label;
            for (std::size_t i = 0; i < boxes.size(); ++i) {
                EXPECT_EQ(run.boxes[i].title, boxes[i].title) << label;
                EXPECT_EQ(run.boxes[i].text, boxes[i].text) << label;
            }

            if (c.file_present) {
                std::vector<standin_call> calls = wait_for_calls(probe.configured());
                ASSERT_EQ(calls.size(), 1u) << label;
                std::string call = "\"" + narrow(probe.configured()) + "\" \"" + url + "\"";
                EXPECT_EQ(calls[0].command_line, call) << label;
                // The browser starts in Ostrilo's own current folder.
                EXPECT_EQ(calls[0].folder, narrow(probe.cwd)) << label;
                EXPECT_TRUE(run.logged("INFO", "Browser call: <" + call + ">")) << label;
                EXPECT_TRUE(run.logged("DEBUG", "Found 'local_browser' setting in ostrilo.cfg. Won't check registry "
                                                "for other possible browsers."));
                EXPECT_FALSE(run.logged("ERROR", last_resort)) << label;
            } else {
                EXPECT_TRUE(run.logged("ERROR", last_resort)) << label;
                if (!ie_rule) {
                    std::vector<standin_call> calls = wait_for_calls(probe.ie());
                    ASSERT_EQ(calls.size(), 1u) << label;
                    EXPECT_EQ(parameters_of(calls[0].command_line), url) << label;
                }
                if (c.key_set) {
                    EXPECT_TRUE(run.logged("ERROR", "create_browser_call: Error: file '" + narrow(probe.configured()) +
                                                        "' doesn't exist! Will desperately try to open the URL "
                                                        "locally using IE"))
                        << label;
                }
                EXPECT_TRUE(run.logged("INFO", "Finished, goodbye.")) << label;
            }
            if (!ie_rule && c.file_present) {
                EXPECT_TRUE(recorded_calls(probe.ie()).empty()) << label;
            }
            EXPECT_TRUE(recorded_calls(default_browser).empty()) << label;
        }
    }
}

TEST(DefaultBrowser, ModeZeroStartsLocalBrowserBinWithoutAnyShellRequest)
{
    browser_sandbox box;
    write_file(box.program_dir + L"\\ostrilo.cfg", "local_browser_bin=" + narrow(box.configured()) + "\r\n");
    box.copy_standin(L"browser_standin", box.configured());
    const std::string url = url_for("default", "a b/\"q\"");
    run_result run = box.run(url_argument(url));
    std::vector<standin_call> calls = wait_for_calls(box.configured());
    ASSERT_EQ(calls.size(), 1u) << run.err;
    // The quote inside the URL stands unchanged between the outer quotes.
    EXPECT_EQ(calls[0].command_line, "\"" + narrow(box.configured()) + "\" \"" + url + "\"");
    EXPECT_TRUE(run.logged("WARN", new_method_failed));
    EXPECT_TRUE(run.logged("DEBUG", "creating process now"));
    EXPECT_TRUE(run.logged("TRACE", "returning from open_url_locally()"));
    EXPECT_TRUE(recorded_calls(box.ie()).empty());
    EXPECT_TRUE(run.boxes.empty());
}

TEST(DefaultBrowser, ModeZeroWithoutConfigurationOpensIe)
{
    browser_sandbox box;
    const std::string url = url_for("default");
    run_result run = box.run(url_argument(url));
    std::vector<standin_call> calls = wait_for_calls(box.ie());
    ASSERT_EQ(calls.size(), 1u) << run.err;
    EXPECT_EQ(parameters_of(calls[0].command_line), url);
    int warn = run.find_record(new_method_failed);
    EXPECT_GE(warn, 0);
    EXPECT_GT(run.find_record(last_resort), warn);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(run.exit_code, 0u);
}

TEST(DefaultBrowser, FirefoxRuleWithOnlyLocalBrowserBinOpensIeNotLocalBrowserBin)
{
    browser_sandbox box;
    write_file(box.program_dir + L"\\ostrilo.cfg", "local_browser_bin=" + narrow(box.configured()) + "\r\n");
    box.copy_standin(L"browser_standin", box.configured());
    const std::string url = url_for("firefox");
    run_result run = box.run(url_argument(url));
    std::vector<standin_call> calls = wait_for_calls(box.ie());
    ASSERT_EQ(calls.size(), 1u) << run.err;
    EXPECT_EQ(parameters_of(calls[0].command_line), url);
    EXPECT_TRUE(run.logged("ERROR", last_resort));
    EXPECT_TRUE(recorded_calls(box.configured()).empty());
}

TEST(ConfiguredBrowser, NonAsciiPathReachesTheBrowserIntact)
{
    browser_sandbox box;
    std::wstring browser = box.root + L"\\Br\u00F6wser \u00FC\u20AC\\st\u00E4rt.exe";
    write_file(box.program_dir + L"\\ostrilo.cfg", "local_browser_bin=" + narrow(browser) + "\r\n");
    box.copy_standin(L"browser_standin", browser);
    const std::string url = url_for("default", "\xC3\xA4");
    run_result run = box.run(url_argument(url));
    std::vector<standin_call> calls = wait_for_calls(browser);
    ASSERT_EQ(calls.size(), 1u) << run.err;
    EXPECT_EQ(calls[0].command_line, "\"" + narrow(browser) + "\" \"" + url + "\"");
}

TEST(ConfiguredBrowser, CallIsCutAt4095Characters)
{
    browser_sandbox box;
    write_file(box.program_dir + L"\\ostrilo.cfg", "local_browser_bin=" + narrow(box.configured()) + "\r\n");
    box.copy_standin(L"browser_standin", box.configured());
    const std::string prefix = "\"" + narrow(box.configured()) + "\" \"";
    const std::string url = url_for("default", std::string(4200, 'x').c_str());
    run_result run = box.run(url_argument(url));
    std::vector<standin_call> calls = wait_for_calls(box.configured());
    ASSERT_EQ(calls.size(), 1u) << run.err;
    // The closing quote is cut off with the rest of the URL.
    EXPECT_EQ(calls[0].command_line, (prefix + url + "\"").substr(0, 4095));
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

TEST(LocalFile, OpensInModeZeroWithoutRuleLookup)
{
    browser_sandbox box;
    std::wstring page = box.root + L"\\pages\\start page.html";
    write_file(page, "<html></html>");
    write_file(box.program_dir + L"\\ostrilo.cfg", "local_browser_bin=" + narrow(box.configured()) + "\r\n");
    box.copy_standin(L"browser_standin", box.configured());
    run_result run = box.run(L"-url \"" + page + L"\"");
    std::vector<standin_call> calls = wait_for_calls(box.configured());
    ASSERT_EQ(calls.size(), 1u) << run.err;
    EXPECT_EQ(calls[0].command_line, "\"" + narrow(box.configured()) + "\" \"" + narrow(page) + "\"");
    EXPECT_TRUE(run.logged("INFO", "URL is actually a file. Opening locally."));
    EXPECT_TRUE(run.logged("INFO", "Finished, goodbye."));
    EXPECT_EQ(run.exit_code, 0u);
}

}  // namespace
