// Where a link ends, run by run of the real Ostrilo.exe: the command line as a
// user or the shell gives it, the local browsers (the shell by program name,
// the browser configured in ostrilo.cfg, Internet Explorer as the last resort)
// and links and files an attacker may shape, with the hardening keys of
// ostrilo.cfg off and on. Each row gives the outcome block of the run.
#include "ostrilo.h"
#include "sandbox.h"

#include <gtest/gtest.h>

namespace {

struct route {
    std::string config, rules;  // ostrilo.cfg and "url whitelist.txt" beside the program
    std::wstring arguments;
    std::string expected;  // the outcome; only the stand-ins it names are there
    bool locked = false;   // another program holds the rule file open, sharing nothing
    std::wstring viewer;   // the stand-in build at the viewer's place beside the program, whatever the outcome
};

// "%R" stands for the sandbox folder, "%A" for a folder of rules sending every
// link to firefox, "%B" and "%D" for the "browser" and "default" stand-ins.
std::wstring placed(std::wstring all, const sandbox& box)
{
    const std::wstring values[] = {box.root, box.root + L"\\attacker", box.standin_path("browser"),
                                   box.standin_path("default")};
    for (int i = 0; i < 4; ++i)
        for (std::size_t at; (at = all.find(std::wstring{L'%', L"RABD"[i]})) != std::wstring::npos;)
            all.replace(at, 2, values[i]);
    return all;
}

// Wine's own Internet Explorer is out of the shell's reach; the edge protocol's
// handler, when there, is registered where Wine looks it up: in the machine-wide classes.
void check(const std::vector<route>& routes)
{
    const program_aside ie[] = {program_aside(system_folder() + L"\\iexplore.exe", nullptr),
                                program_aside(real_program_files() + L"\\Internet Explorer\\iexplore.exe", nullptr)};
    const std::wstring protocol = L"Software\\Classes\\microsoft-edge";
    for (const route& r : routes) {
        sandbox box;
        const std::string expected = narrow(placed(widen(r.expected), box));
        for (const char* name :
             {"browser", "chrome", "default", "firefox", "iexplore", "msedge", "protocol", "selector", "viewer"})
            if (expected.find("\n" + std::string(name) + ": ") != std::string::npos)
                box.standin(box.standin_path(name), name == std::string("viewer") ? L"vncviewer_2_1_4" : L"standin");
        if (!r.viewer.empty())
            box.standin(box.standin_path("viewer"), r.viewer);
        const scoped_key handler_key(HKEY_LOCAL_MACHINE, protocol);
        if (path_exists(box.standin_path("protocol"))) {
            write_string(HKEY_LOCAL_MACHINE, protocol, L"URL Protocol", L"");
            write_string(HKEY_LOCAL_MACHINE, protocol + L"\\shell\\open\\command", L"",
                         L"\"" + box.standin_path("protocol") + L"\" \"%1\"");
        }
        write_file(box.root + L"\\attacker\\url whitelist.txt", "*|local|firefox\r\n");
        write_file(box.root + L"\\seite \u00e4.html", "<html></html>");
        if (!r.config.empty())
            box.put(L"ostrilo.cfg", narrow(placed(widen(r.config), box)));
        box.put(L"url whitelist.txt", r.rules);
        const std::wstring arguments = placed(r.arguments, box);
        HANDLE lock = r.locked ? CreateFileW((box.program_dir + L"\\url whitelist.txt").c_str(), GENERIC_READ, 0,
                                             nullptr, OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
        const run_result run = box.run(arguments);
        CloseHandle(lock);
        SCOPED_TRACE(r.config + " " + narrow(arguments) + "\n" + run.err);
        EXPECT_EQ(box.outcome(run, expected), expected);
        // The opt-in keys of a missing ostrilo.cfg are read without records.
        const std::vector<std::string> records = run.records();
        for (int i = run.find("TRACE Have set box title"); i >= 0 && i < run.find("TRACE CommandLineToArgvW set"); ++i)
            EXPECT_TRUE(!r.config.empty() || records[i].find("ostrilo.cfg") == std::string::npos) << records[i];
    }
}

// Every link matches "*|none", which ends the run with status 1 right after the lookup.
TEST(CommandLine, EachFormGivesItsRecordsAndStatus)
{
    const std::string help = "box: Feldrun Hilfe: " + narrow(help_text()) + "\nINFO Showing Ostrilo help and exiting.";
    const std::string no_url = "INFO There is no URL. I will return.", url = "DEBUG Assuming this is the URL: <";
    const std::string configdir = "DEBUG Read configdir from command line: ",
                      replaced = "DEBUG Replaced with standard ";
    // clang-format off
    const std::pair<std::wstring, std::string> cases[] = {
        {L"-help", "exit 0\n" + help}, {L"/?", "exit 0\n" + help}, {L"-x /help", "exit 0\n" + help},
        {L"-help -url \"https://example.com/h\"", 
         "exit 1\n!INFO Showing Ostrilo help and exiting.\n" + url + "https://example.com/h>"},
        {L"", "exit -3\nINFO Starting Ostrilo\n" + no_url}, {L"-url", "exit -3\n" + no_url},
        {L"-log -configdir", "exit -3\n" + no_url},
        {L"/log -url \"https://example.com/\"", "exit 1\n" + url + "/log>"},
        {L"-configdir \"C:\\cfg\" -url x", "exit 1\n" + url + "C:\\cfg>"},
        {L"-url \"\"", "exit 1\n" + url + ">"},
        {L"-url \"https://example.com/\" -setregistry", "exit 1\n" + url + "https://example.com/>"},
        {L"-SETREGISTRY -url x", "exit 1\n" + url + "x>"},
        {L"-url x -configdir \"H:\\My Config\\\\\"", "exit 1\n" + configdir + "H:\\My Config\\"},
        {L"-url x -configdir=C:\\cfg", "exit 1\n" + configdir + "C:\\cfg\\"},
        {L"-url x -configdir \\\\\\", "exit 1\n" + configdir + "\\"},
        {L"-url x", "exit 1\nERROR Couldn't read configdir from command line!"},
        {L"-url \"kvxp://example.com/a\"", "exit 1\n" + replaced + "http(s): http://example.com/a"},
        {L"-url \"kvxps://example.com/a\"", "exit 1\n" + replaced + "http(s): https://example.com/a"},
        {L"-url \"KVXPS://example.com/\"", "exit 1\n!DEBUG Detected kvxp(s) protocol: KVXPS://example.com/"},
        {L"-url \"%R\"", "exit 1\n!INFO URL is actually a file. Opening locally."},
        {L"-url \"%R\\seite \u00e4.html\"", 
         "exit 0\niexplore: %R\\seite \u00e4.html\nINFO URL is actually a file. Opening locally."},
    };
    // clang-format on
    std::vector<route> routes;
    for (const auto& [arguments, expected] : cases)
        routes.push_back({"", "*|none\n", arguments, expected});
    check(routes);
}

// Every link below "local.test" opens locally, in the browser the path names.
const char rules[] =
    "local.test/default/*|local\r\nlocal.test/firefox/*|local|firefox\r\nlocal.test/chrome/*|local|"
    "chrome\r\nlocal.test/edge/*|local|edge\r\nlocal.test/ie/*|local|ie\r\n";

TEST(LocalBrowser, TheShellByProgramNameElseTheConfiguredBrowserElseInternetExplorer)
{
    // The URL is the whole parameter text: no quotes added, none escaped. Edge
    // goes by program name only where it is installed, else through its protocol.
    const std::wstring url = L"https://local.test/%s/a b/\\\"q\\\"?x=1&y=%20\"";
    const std::string link = "https://local.test/%s/a b/\"q\"?x=1&y=%20",
                      shell = "DEBUG open_url_locally_new: Opening ";
    const std::string ignoring = " (forcefully ignoring local_browser_%s in ostrilo.cfg even though it might be set)";
    // The shell cannot find a browser that is not beside the program (and is not
    // asked for the default browser); the old method then starts the browser
    // configured for the rule, with the URL unchanged between quotes, else Internet Explorer.
    const std::string not_found = "\nbox: Error: File not found.\r\n", old =
                                                                           "\nWARN open_url_locally: new function "
                                                                           "open_url_locally_new(url, mode) failed, "
                                                                           "trying to open with 'old' method";
    const std::string last_resort =
        "\nERROR Couldn't generate browser call. Desperately trying to open url with IE (as last resort).";
    const std::string missing =
        "\nERROR create_browser_call: Error: file '%B' doesn't exist! Will desperately try to "
        "open the URL locally using IE";
    // clang-format off
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"firefox", "", "exit 0\nfirefox: " + link + "\n" + shell + link + " with firefox" + ignoring},
        {"chrome", "", "exit 0\nchrome: " + link + "\n" + shell + link + " with chrome" + ignoring},
        {"ie", "", "exit 0\niexplore: " + link + "\n" + shell + link + " with IE" + ignoring},
        {"edge", "", "exit 0\nprotocol: \"microsoft-edge:" + link + "\"\n" + shell + link + " with edge" + ignoring},
        {"default", "local_browser_bin=%B", "exit 0\nbrowser: \"" + link + "\"" + old},
        {"firefox", "local_firefox=%B\nlocal_browser_bin=%D", 
         "exit 0" + not_found + "\nbrowser: \"" + link + "\"" + old},
        {"chrome", "local_browser_bin=%D", "exit 0" + not_found + "\niexplore: " + link + old + last_resort},
        {"edge", "local_edge=%B\nlocal_browser_bin=%D",
         "exit 0\nbox: Error: There is no Windows program configured to open this type of file.\niexplore: " + link +
         old + last_resort + missing},
        {"ie", "local_ie=%B\nlocal_browser_bin=%D", "exit 0" + not_found + "\nbrowser: \"" + link + "\"" + old},
        {"ie", "", "exit 0" + not_found + not_found + old + last_resort},
        {"default", "local_browser_bin=%R\\seite \u00e4.html",
         "exit 22\nbox: Feldrun Corvane-Pro Browserweiche Feldrun: Fehler: Der Start des lokalen Browsers ist "
         "fehlgeschlagen."},
    };
    // clang-format on
    std::vector<route> routes;
    for (const auto& [browser, config, expected] : cases) {
        std::wstring arguments = L"-url \"" + url;
        std::string text = expected;
        arguments.replace(arguments.find(L"%s"), 2, widen(browser));
        for (std::size_t at; (at = text.find("%s")) != std::string::npos;)
            text.replace(at, 2, browser);
        routes.push_back({config, rules, arguments, text});
    }
    check(routes);
}

TEST(Hostile, EachHostileInputEndsAsDocumentedWithTheHardeningKeysOffAndOn)
{
    const std::string safe = "safe_browser_arguments=1\nlocal_browser_bin=%B", line = "strict_command_line=1";
    const std::string host = "strict_host_match=1", spoofable = "*.intranet.test/*|local|firefox\r\n*|remote\r\n";
    const std::string long_link = "https://example.com/" + std::string(5000, 'a');
    // clang-format off
    std::vector<route> cases = {
        // A link smuggles a flag past the browser's one argument: a blank splits it, unless encoded.
        {"", "example.com/*|local|firefox", L"-url \"https://example.com/?q=1 --gpu-launcher=cmd\"",
         "exit 0\nfirefox: https://example.com/?q=1 --gpu-launcher=cmd"},
        {safe, "example.com/*|local|firefox", L"-url \"https://example.com/?q=1 --gpu-launcher=cmd\"",
         "exit 0\nfirefox: https://example.com/?q=1%20--gpu-launcher=cmd"},
        {safe, "example.com/*|local", L"-url \"https://example.com/\\\" --some-flag \\\"\"",
         "exit 0\nbrowser: https://example.com/%22%20--some-flag%20%22"},
        {safe, "*|local|firefox", L"-url \"/x\"",
         "exit 0\nERROR Refusing to open </x> locally: it cannot be passed to a browser as one safe argument"},
        // A link chooses the configuration folder; with the key everything up to the last quote is the link.
        {"", "*|remote", L"-url \"https://evil.example/-configdir=%A\"",
         "exit 0\nfirefox: https://evil.example/-configdir=%A"},
        {line, "*|remote", L"-url \"https://evil.example/-configdir=%A\"",
         "exit 0\nviewer: -initialURL \"||https://evil.example/-configdir=%A\"\n"
         "ERROR Couldn't read configdir from command line!"},
        {"", "*|remote", L"-url \"https://example.com/\" -configdir \"%A\"", "exit 0\nfirefox: https://example.com/"},
        {line, "*|remote", L"-url \"https://example.com/\" -x \"%A\"",
         "exit 0\nviewer: -initialURL \"||https://example.com/%22+-x+%22%A\""},
        {line, "*|remote", L"-url \"https://example.com/\" -configdir \"%A\"", "exit 1\nERROR strict_command_line: "
         "-configdir stands behind the link; run Ostrilo.exe -setregistry again. Nothing is opened."},
        {line, "*|remote", L"-configdir \"%A\" -url \"https://example.com/\"", "exit 0\nfirefox: https://example.com/"},
        {line, "*|remote", L"-url \"https://example.com/\" x",
         "exit 1\nERROR strict_command_line: the command line is not <program> <switches> -url \"<link>\". "
         "Nothing is opened."},
        {line, "*|remote", L"https://example.com/",
         "exit 1\nERROR strict_command_line: a link must follow -url in double quotes, at the end. Nothing is opened."},
        // Files and links of odd shape: an overlong link goes remote, a locked rule file is passed over, a lone
        // surrogate reaches the browser as it came, an odd quote leaves the rest in the link.
        {"", "", L"-url \"" + widen(long_link) + L"\"", "exit 0\nviewer: -initialURL \"" + long_link + "\""},
        {"", "*|local|firefox", L"-url \"https://a.test/\"", "exit 0\nviewer: -initialURL \"https://a.test/\"", true},
        {"", "*|local|firefox", L"-url \"https://example.com/\xD800\"",
         "exit 0\nfirefox: https://example.com/\xEF\xBF\xBD"},
        {"", "*|local|firefox", L"-url \"https://example.com/a\"b c", "exit 0\nfirefox: https://example.com/ab"},
        {host, spoofable, L"-url \"https://u@WWW.Intranet.Test./a\"",
         "exit 0\nfirefox: https://u@WWW.Intranet.Test./a"},
    };
    // clang-format on
    // Two of the links that the unit table of strict host matching rejects: local without the key, remote with it.
    for (const std::string link : {"https://evil.example/x.intranet.test/", "https://evil.example\\.intranet.test/"}) {
        cases.push_back({"", spoofable, L"-url \"" + widen(link) + L"\"", "exit 0\nfirefox: " + link});
        cases.push_back(
            {host, spoofable, L"-url \"" + widen(link) + L"\"", "exit 0\nviewer: -initialURL \"||" + link + "\""});
    }
    check(cases);
}

// Without a running viewer, the viewer beside the program (from version 2.1.4
// on), or else the selector in KVIX_INSTALLPATH, is started with the encoded
// link; else the box names the product.
TEST(Viewer, IsStartedFromVersionTwoOneFourOnOrItsSelectorElseTheNotFoundBoxNamesTheProduct)
{
    const std::wstring url = L"-url \"http://example.org/a b\"";
    const std::string started = "exit 0\nviewer: -initialURL \"http://example.org/a+b\"",
                      version = "\nTRACE VNC Viewer Version: ";
    const std::string not_found =
        "exit 0\nbox: Feldrun %P Browserweiche Feldrun: Fehler: Der %P Viewer wurde leider nicht gefunden.";
    // clang-format off
    std::vector<route> cases = {
        {"", "", url, started + version + "2.1.4.0"},
        {"", "", url, started + version + "2.2.0.0", false, L"vncviewer_2_2_0"},
        {"", "", url, not_found + "\nWARN This version is too old to use the -initialURL parameter." + version +
         "2.1.3.99", false, L"vncviewer_2_1_3"},
        {"", "", url, not_found, false, L"standin"},  // no version resource
        {"product_name=Acme Remote", "", url, not_found},
        {"", "", url + L" -configdir \"C:\\cfg dir\\\\\"", started + " -configdir \"C:\\cfg dir\""},
        {"", "", url, "exit 0\nselector: -initialURL \"http://example.org/a+b\"", false, L"vncviewer_2_1_4"},
    };
    // clang-format on
    for (route& r : cases)
        for (std::size_t at; (at = r.expected.find("%P")) != std::string::npos;)
            r.expected.replace(at, 2, r.config.empty() ? "Corvane-Pro" : "Acme Remote");
    check(cases);
}

TEST(Help, TextReadsLineByLine)
{
    // Lines a reader of the box relies on, with their exact indentation.
    const std::wstring text = help_text();
    for (const wchar_t* line : {L"\n\n-url <URL>\n\n\tURL wird zum Viewer weitergeleitet\n\n\tBeispiele:\n",
                                L"\n\n-setregistry\n\n\tWindows-Registry-Werte werden erneut gesetzt, keine Angabe\n",
                                L"\tDie Log-Datei wird unter %temp%\\kvixtemp\\feldrun.log gespeichert.\n"})
        EXPECT_NE(text.find(line), std::wstring::npos) << narrow(line);
}

}  // namespace
