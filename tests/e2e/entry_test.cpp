// Where a link ends, run by run of the real Ostrilo.exe: the rule files' order,
// the command line, the local browsers, the remote viewer, and links an attacker
// may shape, with the hardening keys of ostrilo.cfg off and on.
#include "entry.h"
#include "events.h"
#include "nb_utils.h"
#include "sandbox.h"
#include "url_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

using namespace std::string_literals;

namespace {

struct route {
    std::string config, rules;  // ostrilo.cfg and "url whitelist.txt" beside the program
    std::wstring arguments;
    std::string expected;      // the outcome; only the stand-ins it names are there
    std::wstring viewer = {};  // the stand-in build at the viewer's place beside the program, whatever the outcome
    // A running viewer's settings ("name": a pipe-name file naming its pipe); it runs when set or named.
    std::map<std::wstring, std::wstring> running = {};
    // Run after the files are in place; the handle it gives is closed after the run.
    std::function<HANDLE(sandbox&)> setup = {};
};

std::wstring url_arg(const std::string& link)
{
    return L"-url \"" + widen(link) + L"\"";
}

// The fatal box of the default product, and texts of more than one test.
const std::string fatal = "box: Feldrun Corvane-Pro Browserweiche Feldrun: Fehler: ",
                  no_viewer = "Der Corvane-Pro Viewer wurde leider nicht gefunden.",
                  no_viewer_event =
                      "\nevent error 301: No viewer was running and none could be started (vncviewer.exe "
                      "2.1.4 or later, or viewer_selector.exe); the link was not opened. | " +
                      no_viewer;
const std::string held_clipboard =
    "Ich konnte nichts in die Zwischenablage kopieren, da ich diese nicht öffnen konnte. Ein anderes Programm "
    "blockiert die Zwischenablage und gibt sie nicht wieder frei. Die Zwischenablage wird aber benötigt, damit ich den "
    "Link an den Corvane-Pro VNC-Viewer weiterreichen kann. Bitte beenden sie das verantwortliche Programm oder sorgen "
    "sie anderweitig dafür, dass es die Zwischenablage frei gibt, und rufen sie danach den Link erneut auf.";
// An intranet page, the rule that opens it locally, and its link as Safe Links wraps it.
const std::string intranet_rules = "intranet.example/*|local|firefox\n", wiki = "https://intranet.example/wiki",
                  safe_links =
                      "https://eur01.safelinks.protection.outlook.com/?url=https%3A%2F%2Fintranet.example%2Fwiki";

std::wstring copy_of(const sandbox& box)
{
    return box.localappdata + L"\\Ostrilo\\whitelist copy.txt";
}

// whitelist_copy=1: "copy: <source>: <first line>" of the copy when it passes its check, else why not.
std::string copy_line(const sandbox& box)
{
    std::optional<std::string> text = read_file(copy_of(box));
    if (!text)
        return "";
    const parsed_rule_copy copy = parse_rule_copy(*text);
    if (copy.damage || sha256_hex(text->substr(copy.body_offset)) != copy.header.sha256)
        return "\ncopy: damaged";
    return "\ncopy: " + copy.header.source + ": " + std::string(trim(text->substr(copy.body_offset)));
}

// The clipboard's text, emptied.
std::string take_clipboard()
{
    std::wstring text;
    if (OpenClipboard(nullptr)) {
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT))
            text = static_cast<const wchar_t*>(GlobalLock(data)), GlobalUnlock(data);
        EmptyClipboard();
        CloseClipboard();
    }
    return narrow(text);
}

// A viewer of the user that runs, minimized, before the link is opened, behind
// a windowless one that comes first in the process list and is passed over.
HWND start_viewer(const sandbox& box, std::map<std::wstring, std::wstring> settings)
{
    box.standin(box.root + L"\\windowless\\vncviewer.exe");
    box.start(box.root + L"\\windowless\\vncviewer.exe", {{L"STANDIN_PIPE", L"\\\\.\\pipe\\ostrilo-windowless"}});
    box.standin(box.root + L"\\running\\vncviewer.exe");
    settings.emplace(L"STANDIN_WINDOW", L"Corvane-Pro Viewer");
    box.start(box.root + L"\\running\\vncviewer.exe", settings);
    const HWND window = FindWindowW(L"OstriloStandin", nullptr);
    ShowWindow(window, SW_MINIMIZE);
    for (int i = 0; i < 100 && !IsIconic(window); ++i)
        Sleep(50);
    return window;
}

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

// Wine's own Internet Explorer is out of the shell's reach.
void check(const std::vector<route>& routes)
{
    const program_aside ie[] = {program_aside(system_folder() + L"\\iexplore.exe", nullptr),
                                program_aside(real_program_files() + L"\\Internet Explorer\\iexplore.exe", nullptr)};
    for (const route& r : routes) {
        sandbox box;
        box.env[L"WINEDEBUG"] = event_debug;  // every run shows its events, so a run without the key shows none
        const std::string expected = narrow(placed(widen(r.expected), box));
        for (const char* name : sandbox::standin_names)
            if (expected.find("\n" + std::string(name) + ": ") != std::string::npos)
                box.standin(box.standin_path(name), name == std::string("viewer") ? L"vncviewer_2_1_4" : L"standin");
        const bool to_pipe = expected.find("\npipe: ") != std::string::npos;
        const bool running = to_pipe || !r.running.empty() || expected.find("\nclipboard: ") != std::string::npos;
        if (!r.viewer.empty() || running)
            box.standin(box.standin_path("viewer"), r.viewer.empty() ? L"vncviewer_2_1_4" : r.viewer);
        if (r.running.contains(L"name"))
            write_file(box.temp + L"\\kvixtemp\\feldrun_pipename", narrow(r.running.at(L"name")));
        take_clipboard();
        const HWND window = running ? start_viewer(box, r.running) : nullptr;
        write_file(box.root + L"\\attacker\\url whitelist.txt", "*|local|firefox\r\n");
        write_file(box.root + L"\\seite \u00e4.html", "<html></html>");
        if (!r.config.empty())
            box.put(L"ostrilo.cfg", narrow(placed(widen(r.config), box)));
        box.put(L"url whitelist.txt", r.rules);
        const std::wstring arguments = placed(r.arguments, box);
        const HANDLE held = r.setup ? r.setup(box) : nullptr;
        const run_result run = box.run(arguments);
        if (held)
            CloseHandle(held);
        SCOPED_TRACE(r.config + " " + narrow(arguments) + "\n" + run.err);
        const std::string pipe = wait_for_file(box.root + L"\\running\\vncviewer.exe.pipe.1", to_pipe),
                          clipboard = take_clipboard();
        EXPECT_EQ(box.outcome(run, expected) + (pipe.empty() ? "" : "\npipe: " + pipe) +
                      (clipboard.empty() ? "" : "\nclipboard: " + clipboard) +
                      (r.config.find("whitelist_copy") != std::string::npos ? copy_line(box) : ""),
                  expected);
        EXPECT_FALSE(running && run.boxes.empty() && IsIconic(window)) << "the running viewer's window is brought back";
        // The opt-in keys of a missing ostrilo.cfg are read without records.
        const std::vector<std::string> records = run.records();
        for (int i = run.find("TRACE Have set box title"); i >= 0 && i < run.find("TRACE CommandLineToArgvW set"); ++i)
            EXPECT_TRUE(!r.config.empty() || records[i].find("ostrilo.cfg") == std::string::npos) << records[i];
    }
}

TEST(LookupOrder, EachPlaceWinsOverTheLaterOnes)
{
    const std::string url = "https://rules.test/page";
    // The places holding a rule file, in lookup order: P the preset file (p: one that does not match), C the
    // -configdir folder, I the installation folder, A %APPDATA%\vnc, G the program folder. The first upper-case
    // one wins; its destination is neither local nor remote, so the run ends with status 1 after the lookup.
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
        std::string checks;  // the rule file checks of the run, in order
        for (const std::string& record : run.records())
            checks += record.starts_with("DEBUG * Check URL '") ? record.substr(6) + "\n" : "";
        EXPECT_EQ(checks, expected);
        const std::string records = "TRACE  --> dest: <" + names[winner] + ">";
        EXPECT_EQ(box.outcome(run, records), "exit 1\n" + records);
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
        {L"-x /help", "exit 0\n" + help},
        {L"-help -url \"https://example.com/h\"",
         "exit 1\n!INFO Showing Ostrilo help and exiting.\n" + url + "https://example.com/h>"},
        {L"", "exit -3\nINFO Starting Ostrilo\n" + no_url}, {L"-url", "exit -3\n" + no_url},
        {L"/log -url \"https://example.com/\"", "exit 1\n" + url + "/log>"},
        {L"-url x -configdir \"H:\\My Config\\\\\"", "exit 1\n" + configdir + "H:\\My Config\\"},
        {L"-url x -configdir=C:\\cfg", "exit 1\n" + configdir + "C:\\cfg\\"},
        {L"-url x", "exit 1\nERROR Couldn't read configdir from command line!"},
        {L"-url \"kvxp://example.com/a\"", "exit 1\n" + replaced + "http(s): http://example.com/a"},
        {L"-url \"kvxps://example.com/a\"", "exit 1\n" + replaced + "http(s): https://example.com/a"},
        {L"-url \"%R\"", "exit 1\n!INFO URL is actually a file. Opening locally."},
        {L"-url \"%R\\seite \u00e4.html\"",
         "exit 0\niexplore: %R\\seite \u00e4.html\nINFO URL is actually a file. Opening locally."},
    };
    // clang-format on
    std::vector<route> routes;
    for (const auto& [arguments, expected] : cases)
        routes.push_back({"", "*|none\n", arguments, expected});
    // A kvxps link is looked up (in the program folder standing in for the installation folder, too) and
    // handed on as https.
    const std::string check_url =
        "\nDEBUG * Check URL 'https://rules.test/page' in whitelist '%R\\program\\\\url whitelist.txt'";
    routes.push_back({"", "kvxps://*|kept\n", L"-url \"kvxps://rules.test/page\"",
                      "exit 0\nviewer: -initialURL \"https://rules.test/page\"" + check_url + check_url});
    check(routes);
}

// Every link below "l.test" opens locally, in the browser the path names: the
// shell asked by program name gets the URL as the whole parameter text (no
// quotes added, none escaped). The shell cannot find a browser that is not
// beside the program (and is not asked for the default one); the old method
// then starts the browser configured for the rule, with the URL unchanged
// between quotes, else Internet Explorer.
TEST(LocalBrowser, TheShellByProgramNameElseTheConfiguredBrowserElseInternetExplorer)
{
    // clang-format off
    const std::string rules = "l.test/d*|local\nl.test/f*|local|firefox\nl.test/c*|local|chrome\n"
                              "l.test/e*|local|edge\nl.test/i*|local|ie\n";
    const std::string not_found = "\nbox: Error: File not found.\r\n", configured = "local_browser_bin=%D\nlocal_";
    const std::string old = "\nWARN open_url_locally: new function open_url_locally_new(url, mode) failed, trying to "
                            "open with 'old' method";
    const std::string ie = old + "\nERROR Couldn't generate browser call. Desperately trying to open url with IE (as "
                                 "last resort).";
    const std::wstring c = url_arg("https://l.test/c"), e = url_arg("https://l.test/e"), i = url_arg("https://l.test/i");
    check({
        {"", rules, L"-url \"https://l.test/f/a \\\"b\"", "exit 0\nfirefox: https://l.test/f/a \"b"},
        {"", rules, c, "exit 0\nchrome: https://l.test/c"},
        {"", rules, i, "exit 0\niexplore: https://l.test/i"},
        {"local_browser_bin=%B", rules, L"-url \"https://l.test/d/a \\\"b\"",
         "exit 0\nbrowser: \"https://l.test/d/a \"b\"" + old},
        {configured + "firefox=%B", rules, url_arg("https://l.test/f"), "exit 0" + not_found + "\nbrowser: \"https://l.test/f\"" + old},
        {"local_browser_bin=%D", rules, c, "exit 0" + not_found + "\niexplore: https://l.test/c" + ie},
        {configured + "edge=%B", rules, e, "exit 0\nbox: Error: There is no Windows program configured to open this "
         "type of file.\niexplore: https://l.test/e" + ie + "\nERROR create_browser_call: Error: file '%B' doesn't "
         "exist! Will desperately try to open the URL locally using IE"},
        {configured + "ie=%B", rules, i, "exit 0" + not_found + "\nbrowser: \"https://l.test/i\"" + old},
        {"", rules, i, "exit 0" + not_found + not_found + ie},  // Wine's own Internet Explorer is out of reach too
        {"local_browser_bin=%R\\seite \u00e4.html", rules, url_arg("https://l.test/d"), "exit 2\n" + fatal + "Der Start des lokalen Browsers ist "
         "fehlgeschlagen."},
    });
    // clang-format on
}

TEST(Hostile, EachHostileInputEndsAsDocumentedWithTheHardeningKeysOffAndOn)
{
    const std::string safe = "safe_browser_arguments=1\nlocal_browser_bin=%B", line = "strict_command_line=1";
    const std::string host = "strict_host_match=1", spoofable = "*.intranet.test/*|local|firefox\r\n*|remote\r\n";
    const std::string ff = "*|local|firefox", remote = "*|remote";
    const std::string bad = "exit 1\nERROR strict_command_line: ", no = " Nothing is opened.";
    const std::wstring inside = L"-url \"https://e.test/-configdir=%A\"";
    // clang-format off
    std::vector<route> cases = {
        // A link smuggles a flag past the browser's one argument: a blank splits it, unless encoded.
        {"", ff, L"-url \"https://e.test/?q=1 --gpu=x\"", "exit 0\nfirefox: https://e.test/?q=1 --gpu=x"},
        {safe, ff, L"-url \"https://e.test/?q=1 --gpu=x\"", "exit 0\nfirefox: https://e.test/?q=1%20--gpu=x"},
        {safe, "*|local", L"-url \"https://e.test/\\\" --x \\\"\"", "exit 0\nbrowser: https://e.test/%22%20--x%20%22"},
        {safe, ff, L"-url \"/x\"",
         "exit 0\nERROR Refusing to open </x> locally: it cannot be passed to a browser as one safe argument"},
        // A link chooses the configuration folder; with the key everything up to the last quote is the link.
        {"", remote, inside, "exit 0\nfirefox: https://e.test/-configdir=%A"},
        {line, remote, inside, "exit 0\nviewer: -initialURL \"||https://e.test/-configdir=%A\""},
        {line, remote, L"-url \"https://e.test/\" -x \"%A\"",
         "exit 0\nviewer: -initialURL \"||https://e.test/%22+-x+%22%A\""},
        {line, remote, L"-url \"https://e.test/\" -configdir \"%A\"",
         bad + "-configdir stands behind the link; run Ostrilo.exe -setregistry again." + no},
        {line, remote, L"-configdir \"%A\" -url \"https://e.test/\"", "exit 0\nfirefox: https://e.test/"},
        {line, remote, L"-url \"https://e.test/\" x",
         bad + "the command line is not <program> <switches> -url \"<link>\"." + no},
        {line, remote, L"https://e.test/", bad + "a link must follow -url in double quotes, at the end." + no},
        // A lone surrogate reaches the browser as it came; an odd quote leaves the rest in the link.
        {"", ff, L"-url \"https://e.test/\xD800\"", "exit 0\nfirefox: https://e.test/\xEF\xBF\xBD"},
        {"", ff, L"-url \"https://e.test/a\"b c", "exit 0\nfirefox: https://e.test/ab"},
        {"", "", L"-url \"https://e.test/" + std::wstring(5000, L'a') + L"\"",
         "exit 0\nviewer: -initialURL \"https://e.test/" + std::string(5000, 'a') + "\""},
        // With the key, the real host as a browser may write it stays local.
        {host, spoofable, L"-url \"https://u@WWW.Intranet.Test./a\"", "exit 0\nfirefox: https://u@WWW.Intranet.Test./a"},
    };
    // clang-format on
    // Two of the links that the unit table of strict host matching rejects: local without the key, remote with it.
    for (const std::string link : {"https://evil.example/x.intranet.test/", "https://evil.example\\.intranet.test/",
                                   "https://http://intranet.test/"}) {
        cases.push_back({"", spoofable, url_arg(link), "exit 0\nfirefox: " + link});
        cases.push_back({host, spoofable, url_arg(link), "exit 0\nviewer: -initialURL \"||" + link + "\""});
    }
    check(cases);
}

// A link wrapped by mail security: looked up by the rewriter's host without the
// key, by the link inside with 1 (the wrapped link opened) and 2 (the inner one).
TEST(Unwrap, WrappedIntranetLinksOpenLocallyOnlyWithTheKeyAndLookAlikesStayWrapped)
{
    const std::string &rules = intranet_rules, &safe = safe_links;
    const std::string info = "\nINFO unwrap_links=";
    // clang-format off
    check({
        {"", rules, url_arg(safe), "exit 0\nviewer: -initialURL \"" + safe + "\""},
        {"unwrap_links=3", rules, url_arg(safe), "exit 0\nviewer: -initialURL \"" + safe + "\""},
        {"unwrap_links=1", rules, url_arg(safe), "exit 0\nfirefox: " + safe + info + "1: unwrapped Safe Links; the rule "
         "lookup uses " + wiki + ", the wrapped link is opened"},
        {"unwrap_links=2", rules, url_arg(safe), "exit 0\nfirefox: " + wiki + info + "2: unwrapped Safe Links; " + wiki +
         " is looked up and opened"},
        {"unwrap_links=2", rules, url_arg(replace_all(safe, ".com/", ".com.evil.example/")),
         "exit 0\nviewer: -initialURL \"" + replace_all(safe, ".com/", ".com.evil.example/") + "\""},
        {"unwrap_links=1", rules, url_arg(safe + "%zz"), "exit 0\nviewer: -initialURL \"" + safe + "%zz\"\nDEBUG "
         "unwrap_links: the link looks wrapped but is left as it came (Safe Links: a bad percent escape)"},
        // The decoded inner link reaches the browser as one argument, without safe_browser_arguments.
        {"unwrap_links=2", rules, url_arg(safe + "%2F%20--flag%3D%22x%22"), "exit 0\nfirefox: " + wiki + "/%20--flag=%22x%22" +
         info + "2: unwrapped Safe Links; " + wiki + "/ --flag=\"x\" is looked up and opened as " + wiki +
         "/%20--flag=%22x%22"},
    });
    // clang-format on
}

// A key set by machine policy, user policy or ostrilo.cfg, in that order; a policy value of the wrong type or out
// of range is ignored with a WARN record and the next source answers.
TEST(Policy, MachinePolicyThenUserPolicyThenTheFileThenTheDefaultAndAWrongValueIsPassedOver)
{
    const scoped_policies clean;
    const std::string &rules = intranet_rules, &safe = safe_links;
    const std::wstring link = url_arg(safe);
    const std::string debug = "\nDEBUG policy: ", warn = "\nWARN policy: ",
                      at = "\\Software\\Policies\\Corvane-Pro\\Ostrilo\\";
    const HKEY machine = HKEY_LOCAL_MACHINE, user = HKEY_CURRENT_USER;
    const auto set = [](std::vector<policy_entry> values) {
        return [values](sandbox& box) {
            write_policies(values);
            box.env[L"OSTRILO_RULES"] = box.root;
            write_file(box.root + L"\\central.txt", "intranet.example/*|local|chrome\r\n");
            return HANDLE();
        };
    };
    // clang-format off
    check({
        {"", rules, link, "exit 0\nfirefox: " + wiki + debug + "unwrap_links=2 from user policy", L"", {},
         set({{user, L"unwrap_links", REG_DWORD, L"2"}})},
        {"unwrap_links=2", rules, link, "exit 0\nfirefox: " + safe + debug + "unwrap_links=1 from machine policy", L"", {},
         set({{machine, L"unwrap_links", REG_DWORD, L"1"}})},
        {"", rules, link, "exit 0\nfirefox: " + safe + debug + "unwrap_links=1 from machine policy\n!DEBUG policy: "
         "unwrap_links=2 from user policy", L"", {},
         set({{machine, L"unwrap_links", REG_DWORD, L"1"}, {user, L"unwrap_links", REG_DWORD, L"2"}})},
        {"unwrap_links=1", rules, link, "exit 0\nfirefox: " + safe + warn + "HKLM" + at + "unwrap_links is REG_SZ, "
         "not REG_DWORD; ignored", L"", {}, set({{machine, L"unwrap_links", REG_SZ, L"2"}})},
        {"", rules, link, "exit 0\nviewer: -initialURL \"" + safe + "\"" + warn + "HKCU" + at + "unwrap_links is 3, not "
         "0, 1 or 2; ignored", L"", {}, set({{user, L"unwrap_links", REG_DWORD, L"3"}})},
        // A path with a variable, expanded; a text that is empty is passed over.
        {"", rules, url_arg(wiki), "exit 0\nchrome: " + wiki + debug + "whitelist_path=%R\\central.txt "
         "from user policy" + warn + "HKLM" + at + "product_name is empty; ignored", L"", {},
         set({{user, L"whitelist_path", REG_EXPAND_SZ, L"%OSTRILO_RULES%\\central.txt"}, {machine, L"product_name", REG_SZ, L""}})},
        // A hardening key set by policy stays on whatever the file says; a name from policy is in the boxes.
        {"strict_host_match=0", "*.intranet.test/*|local|firefox\r\n*|remote\r\n", L"-url \"https://e.test/x.intranet.test/\"",
         "exit 0\nviewer: -initialURL \"||https://e.test/x.intranet.test/\"" + debug + "strict_host_match=1 from machine "
         "policy", L"", {}, set({{machine, L"strict_host_match", REG_DWORD, L"1"}})},
        {"product_name=Acme", "", link, "exit 0\nbox: Feldrun Policy Name Browserweiche Feldrun: Fehler: Der Policy Name "
         "Viewer wurde leider nicht gefunden." + debug + "product_name=Policy Name from user policy", L"", {},
         set({{user, L"product_name", REG_SZ, L"Policy Name"}})},
    });
    // clang-format on
    // Without a policy value the records and printed lines are those of a run without the policy keys at all.
    sandbox box;
    box.put(L"url whitelist.txt", "*|none\r\n");
    box.put(L"ostrilo.cfg", "unwrap_links=1\r\n");
    write_policies({});
    const run_result plain = box.run(url_arg("https://l.test/x"));
    write_policies({{machine, L"a_later_key", REG_DWORD, L"1"}, {user, L"a_later_key", REG_SZ, L"1"}});
    const run_result keyed = box.run(url_arg("https://l.test/x"));
    EXPECT_TRUE(plain.records() == keyed.records() && plain.out == keyed.out && plain.exit_code == 1) << keyed.err;
}

// Without a running viewer, the viewer beside the program (from version 2.1.4
// on), or else the selector in KVIX_INSTALLPATH, is started with the encoded
// link; else the box says that no viewer was found (its product name: environment_test).
TEST(Viewer, IsStartedFromVersionTwoOneFourOnOrItsSelectorElseTheNotFoundBoxNamesTheProduct)
{
    const std::wstring url = L"-url \"http://example.org/a b\"";
    const std::string started = "exit 0\nviewer: -initialURL \"http://example.org/a+b\"",
                      version = "\nTRACE VNC Viewer Version: ";
    // clang-format off
    check({
        {"", "", url, started + version + "2.1.4.0"},
        {"", "", url, "exit 0\n" + fatal + no_viewer + "\nWARN This version is too old to use the -initialURL parameter." + version +
         "2.1.3.99", L"vncviewer_2_1_3"},
        {"", "", url + L" -configdir \"C:\\cfg dir\\\\\"", started + " -configdir \"C:\\cfg dir\""},
        {"", "", url, "exit 0\nselector: -initialURL \"http://example.org/a+b\"", L"vncviewer_2_1_4"},
    });
    // clang-format on
}

TEST(Viewer, RunningViewerGetsTheEncodedTextThroughItsPipeOrTheTextAsReceivedOnTheClipboard)
{
    const std::wstring url = L"-url \"http://example.org/a b?x=1&y=%41<\u00e4>\"", pipe = L"STANDIN_PIPE";
    const std::wstring german = L"-url \"https://example.com/stra\u00dfe/\u00e4\"",
                       named = L"\\\\.\\pipe\\ostrilo-named";
    const std::wstring standard = L"\\\\.\\pipe\\feldrun-pipe", link = L"-url \"http://remote.example.org/a b\"";
    const std::string encoded = "exit 0\npipe: http://example.org/a+b?x=1&y=%41%3c%c3%a4%3e\0"s;
    const std::string nburl = "exit 0\nclipboard: nburl:http://example.org/a b?x=1&y=%41<\u00e4>";
    const std::string remote = "remote.example.org/*|remote|firefox|work\n";
    // clang-format off
    check({
        {"", "", url, "exit 0\nout: Sent (encoded) URL: 'http://example.org/a+b?x=1&y=%41%3c%c3%a4%3e'" +
         encoded.substr(6), L"", {{pipe, standard}}},
        {"", "", url, encoded, L"", {{pipe, named}, {L"name", named}}},
        {"", remote, link, "exit 0\npipe: work|firefox|http://remote.example.org/a+b\0"s, L"", {{pipe, standard}}},
        {"", "", url, "exit 0\nWARN I couldn't write the url to the pipe. Probably the viewer is older than 2.1.4 or "
         "it is not running with 'multi'. I am going to use the clipboard instead." + nburl.substr(6)},
        {"", "*|remote", german, "exit 0\npipe: ||https://example.com/stra%c3%9fe/%c3%a4\0"s, L"", {{pipe, standard}}},
        // Held by another program, the clipboard is tried three times, then the fatal box ends the run.
        {"", "", url, "exit 2\n" + fatal + held_clipboard + "\nWARN Clipboard did not open, try again.\nWARN Clipboard "
         "did not open, try again.", L"", {{L"STANDIN_HOLD_CLIPBOARD", L"1"}}},
    });
    // clang-format on
}

// whitelist_copy=1 keeps the last good copy of the central rule file, and a run whose file cannot be read whole uses
// it without a box; without an intact copy of that same file, or without the key, the box ends the run as before.
// The central rule's destination "none" ends the run with status 1 right after the lookup. With event_log=1, the
// events of each fault follow the records.
TEST(WhitelistCopy, EachFaultOfTheCentralFileEndsAsDocumentedAndLeavesTheCopyWhole)
{
    const std::string key = "whitelist_copy=1\nevent_log=1\n",
                      cfg = key + "whitelist_path=%R\\central\\url whitelist.txt\n";
    const std::wstring central = L"\\central\\url whitelist.txt", link = L"-url \"https://c.test/x\"";
    const std::string file = "%R\\central\\url whitelist.txt", copy = "%R\\localappdata\\Ostrilo\\whitelist copy.txt";
    const std::string kept = "\ncopy: " + file + ": c.test/*|none", matched = "\nTRACE  --> dest: <none>";
    const std::string copy_time = "2026-01-02 03:04:05 UTC";
    // whitelist_timeout_ms=300 and a whitelist_path pipe; a Linux sysfs file, whose size (4096) is more than a read
    // gives, as a file that shrinks while it is read.
    const std::string pipe = "\\\\.\\pipe\\ostrilo-silent", timed = key + "whitelist_timeout_ms=300\n",
                      sys = "Z:\\sys\\devices\\system\\cpu\\online", firefox = "c.test/*|local|firefox\r\n";
    const std::string gone = "Die eingestellte Whitelist-Datei konnte leider nicht gefunden werden:\n\n";
    const auto box = [&](const std::string& f) { return "exit 2\n" + fatal + gone + f; };
    // The events: the destination "none" in the file that decided, and the box of a missing file.
    const auto none = [](const std::string& in) {
        return "\nevent warning 213: https://c.test/x | line 1 of " + in + ": c.test/*|none";
    };
    const auto box_event = [&](const std::string& f) {
        return "\nevent error 300: The rule file that whitelist_path names was not found; no link is opened until it "
               "is back. | " +
               gone + f;
    };
    const auto used = [&](const std::string& f, const std::string& why) {
        const std::string event = why.starts_with("did not answer") ? "\nevent warning 201: " + f + " | 300 | "
                                                                    : "\nevent warning 200: " + f + " | " + why + " | ";
        return "exit 1\nWARN whitelist_copy: cannot read " + f + " (" + why + "); using its copy of " + copy_time +
               " from " + copy + matched + event + copy_time + " | " + copy + none(copy) + "\ncopy: " + f +
               ": c.test/*|none";
    };
    const auto in_place = [&](sandbox& b) {
        write_file(b.root + central, "c.test/*|none\r\n");
        return HANDLE();
    };
    // A run with the file in place makes the copy (its time set to one known here); then the fault.
    const auto with_copy = [&](std::function<void(sandbox&)> fault, const std::string& config = "") {
        return [&, fault, config](sandbox& b) -> HANDLE {
            in_place(b);
            b.run(placed(link, b));
            std::string text = read_file(copy_of(b)).value_or("");
            const std::size_t time = text.find("read: ") + 6;
            write_file(copy_of(b), text.replace(time, 23, copy_time));
            if (!config.empty())
                b.put(L"ostrilo.cfg", narrow(placed(widen(config), b)));
            fault(b);
            return nullptr;
        };
    };
    const auto missing = [&](sandbox& b) {
        DeleteFileW((b.root + central).c_str());
        return HANDLE();
    };
    const auto edit_copy = [&](std::string search, std::string replacement, const std::string& config = "",
                               bool keep_file = false) {
        return with_copy(
            [=](sandbox& b) {
                std::string text = read_file(copy_of(b)).value_or("");
                const std::string found = narrow(placed(widen(search), b));
                write_file(copy_of(b), text.replace(text.find(found), found.size(), replacement));
                if (!keep_file)
                    DeleteFileW((b.root + central).c_str());
            },
            config);
    };
    // The intact copy made a copy of `source`, read by `config`.
    const auto copy_of_source = [&](const std::string& source, const std::string& config) {
        return edit_copy("source: " + file, "source: " + source, config);
    };
    // The pipe's server takes the open and, after `wait` ms, writes `rules` and closes it, or disconnects it, so that
    // the reader's next read fails (as a read of a share's file may, part-way); without rules it never writes and is
    // closed after the run, so that no run waits for ever.
    const auto serve = [&](std::string rules = "", DWORD wait = 0, bool disconnect = false) {
        return [=](sandbox&) {
            const HANDLE server = CreateNamedPipeW(widen(pipe).c_str(), PIPE_ACCESS_DUPLEX, 0, 1, 0, 0, 0, nullptr);
            if (!rules.empty())
                std::thread([=] {
                    DWORD written = 0;
                    ConnectNamedPipe(server, nullptr), Sleep(wait);
                    WriteFile(server, rules.data(), static_cast<DWORD>(rules.size()), &written, nullptr);
                    if (FlushFileBuffers(server) && disconnect)
                        DisconnectNamedPipe(server);
                    CloseHandle(server);
                }).detach();
            return rules.empty() ? server : HANDLE();
        };
    };
    const auto then = [](auto first, auto second) { return [=](sandbox& b) { return first(b), second(b); }; };
    // clang-format off
    check({
        {cfg, "", link, "exit 1" + matched + none(file) + kept, L"", {}, in_place},
        {cfg, "", link, used(file, "system error 2: File not found."), L"", {}, with_copy(missing)},
        {cfg, "", link, used(file, "system error 32: Sharing violation."), L"", {}, [&](sandbox& b) { with_copy([](sandbox&) {})(b);
            return CreateFileW((b.root + central).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr); }},
        {cfg, "", link, used(file, "system error 5: Access denied."), L"", {}, with_copy([&](sandbox& b) {
            missing(b); CreateDirectoryW((b.root + central).c_str(), nullptr); })},
        {cfg, "", link, "exit 0\n" + fatal + no_viewer + "\nWARN whitelist_copy: " + file + " is empty; the copy " + copy +
         " with rules of " + copy_time + " is kept" + no_viewer_event + kept, L"", {},
         with_copy([&](sandbox& b) { write_file(b.root + central, ""); })},
        {cfg, "", link, "exit 1\nWARN whitelist_copy: cannot keep a copy of " + file + " in " + file +
         "\\Ostrilo\\whitelist copy.txt (system error 3: Path not found.); going on without it" + matched + "\nevent "
         "warning 204: " + file + " | " + file + "\\Ostrilo\\whitelist copy.txt | system error 3: Path not found." + none(file), L"",
         {}, [&](sandbox& b) { b.env[L"LOCALAPPDATA"] = b.root + central; return in_place(b); }},
        {cfg, "", link, box(file) + "\nWARN whitelist_copy: the copy " + copy + " is of C:\\other.txt, not of " + file +
         "; not used" + box_event(file) + "\ncopy: C:\\other.txt: c.test/*|none", L"", {}, edit_copy("source: " + file, "source: C:\\other.txt")},
        {cfg, "", link, box(file) + "\nERROR whitelist_copy: the copy " + copy + " is damaged (checksum does not "
         "match); ignored\nevent warning 203: " + copy + " | " + file + " | checksum does not match | It is ignored, and "
         "the file cannot be read." + box_event(file) + "\ncopy: damaged", L"", {}, edit_copy("|none", "|n0ne")},
        {cfg, "", link, box(file) + "\nERROR whitelist_copy: the copy " + copy + " is damaged (length 12 instead of 15 "
         "bytes); ignored\nevent warning 203: " + copy + " | " + file + " | length 12 instead of 15 bytes | It is "
         "ignored, and the file cannot be read." + box_event(file) + "\ncopy: damaged", L"", {}, edit_copy("|none", "|n")},
        {cfg, "", link, box(file) + box_event(file), L"", {}, missing},
        // A copy that holds the file's bytes under a damaged checksum is written anew, with an ERROR record; one
        // that is only changed since Ostrilo wrote it (its time, here) quietly.
        {cfg, "", link, "exit 1\nERROR whitelist_copy: the copy " + copy + " is damaged (checksum does not match); it "
         "is replaced" + matched + "\nevent warning 203: " + copy + " | " + file + " | checksum does not match | It is "
         "replaced." + none(file) + kept, L"", {}, edit_copy(sha256_hex("c.test/*|none\r\n"), std::string(64, 'a'), "", true)},
        {cfg, "", link, "exit 1\n!ERROR whitelist_copy: the copy " + copy + " is damaged (checksum does not match); it "
         "is replaced" + matched + none(file) + kept, L"", {}, with_copy([](sandbox&) {})},
        // A read that fails part-way, and a file that changes while it is read (read twice), decide nothing; also on
        // the thread of whitelist_timeout_ms. (Under Wine 8 another process's lock of a byte range does not make a
        // read fail, as a copy job's lock on a share does; the pipe whose server disconnects after a rule does.)
        {cfg, "", link, used(pipe, "system error 233: Pipe not connected."), L"", {},
         then(copy_of_source(pipe, key + "whitelist_path=" + pipe), serve(firefox, 0, true))},
        {cfg, "", link, used(pipe, "system error 233: Pipe not connected."), L"", {},
         then(copy_of_source(pipe, timed + "whitelist_path=" + pipe), serve(firefox, 0, true))},
        {key + "whitelist_path=" + pipe, "", link, box(pipe) + box_event(pipe), L"", {}, serve(firefox, 0, true)},
        {cfg, "", link, used(sys, "it changed while it was read"), L"", {},
         copy_of_source(sys, key + "whitelist_path=" + sys)},
        {key + "whitelist_path=" + sys, "", link, box(sys) + box_event(sys), L"", {}},
        // whitelist_timeout_ms: the copy answers for a pipe that never writes; a file that answers is read.
        {cfg, "", link, used(pipe, "did not answer within 300 ms"), L"", {},
         then(copy_of_source(pipe, timed + "whitelist_path=" + pipe), serve())},
        {timed + "whitelist_path=" + pipe, "", link, "exit 1\nWARN whitelist_timeout_ms: " + pipe + " did not answer "
         "within 300 ms and has no intact copy; waiting on" + matched + "\nevent warning 202: " + pipe + " | 300" +
         none(pipe) + "\ncopy: " + pipe + ": c.test/*|none", L"", {},
         serve("c.test/*|none\r\n", 2000)},
        {cfg + "whitelist_timeout_ms=300\n", "", link, "exit 1" + matched + none(file) + kept, L"", {}, in_place},
        // Without the key the copy is not looked at.
        {cfg, "", link, box(file) + "\n!WARN whitelist_copy: cannot read" + kept, L"", {},
         with_copy(missing, "whitelist_path=%R\\central\\url whitelist.txt\n")},
    });
    // clang-format on
}

// New copies that runs which died long ago left beside the copy go when a run writes the copy; a recent one may
// belong to a run writing now and stays, as do other files of the folder.
TEST(WhitelistCopy, ARunThatWritesTheCopyRemovesNewCopiesAbandonedAnHourAgo)
{
    sandbox box;
    const std::wstring central = box.root + L"\\central.txt", folder = box.localappdata + L"\\Ostrilo\\";
    box.put(L"ostrilo.cfg", "whitelist_copy=1\nwhitelist_path=" + narrow(central) + "\n");
    write_file(central, "c.test/*|none\r\n");
    const std::wstring old_new = copy_of(box) + L".4242.new", recent_new = copy_of(box) + L".4243.new",
                       other = folder + L"notes.4244.new";
    for (const std::wstring& file : {old_new, recent_new, other}) {
        write_file(file, "c.test/*|n");
        std::filesystem::last_write_time(
            file, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(file == recent_new ? 50 : 61));
    }
    EXPECT_EQ(box.run(L"-url \"https://c.test/x\"").exit_code, 1u);
    EXPECT_EQ(copy_line(box), "\ncopy: " + narrow(central) + ": c.test/*|none");
    EXPECT_TRUE(!read_file(old_new) && read_file(recent_new) && read_file(other));
    // A run whose copy is current writes nothing (a copy written again would carry a later time).
    const std::optional<std::string> made = read_file(copy_of(box));
    Sleep(1100);
    EXPECT_EQ(box.run(L"-url \"https://c.test/x\"").exit_code, 1u);
    EXPECT_EQ(read_file(copy_of(box)), made);
}

// Two programs whose ostrilo.cfg name different whitelist_path files (one sends the link to Firefox, one to Chrome,
// behind comment lines and a line that changes every round) run at once, round after round, and share the user's
// copy: each goes where its own file says, and the copy afterwards is exactly one file's bytes, under its name.
TEST(WhitelistCopy, TwoRunsOfDifferentFilesAtOnceLeaveACopyOfExactlyOneFile)
{
    sandbox box;
    const std::wstring folders[2] = {box.program_dir, box.root + L"\\other"};
    const std::string browsers[2] = {"firefox", "chrome"};
    CreateDirectoryW(folders[1].c_str(), nullptr);
    CopyFileW(box.exe().c_str(), (folders[1] + L"\\Ostrilo.exe").c_str(), FALSE);
    for (int i = 0; i < 2; ++i) {
        box.standin(folders[i] + L"\\" + widen(browsers[i]) + L".exe");
        write_file(folders[i] + L"\\ostrilo.cfg",
                   "whitelist_copy=1\nwhitelist_path=" + narrow(folders[i]) + "\\r.txt\n");
    }
    for (const auto& [name, value] : box.env)
        SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    for (int round = 0; round < 10; ++round) {
        std::string files[2];
        run_result results[2];
        std::thread runs[2];
        for (int i = 0; i < 2; ++i) {
            for (int line = 0; line < 5000; ++line)
                files[i] += "# padding line " + std::to_string(line) + "\r\n";
            write_file(folders[i] + L"\\r.txt",
                       files[i] += "# round " + std::to_string(round) + "\r\nc.test/*|local|" + browsers[i] + "\r\n");
            runs[i] = std::thread([&, i] {
                results[i] = box.run_command_line(L"\"" + folders[i] + L"\\Ostrilo.exe\" -url \"https://c.test/x\"");
            });
        }
        for (int i = 0; i < 2; ++i) {
            runs[i].join();
            EXPECT_TRUE(results[i].exit_code == 0 && results[i].boxes.empty() &&
                        results[i].has("TRACE  --> browser: <" + browsers[i] + ">") &&
                        results[i].err.find(": whitelist_copy: ") == std::string::npos)
                << results[i].err;
        }
        const std::string text = read_file(copy_of(box)).value_or("");
        const parsed_rule_copy copy = parse_rule_copy(text);
        const std::string body = text.substr(copy.body_offset);
        const int which = copy.header.source == narrow(folders[1]) + "\\r.txt";
        EXPECT_FALSE(copy.damage);
        EXPECT_EQ(sha256_hex(body), copy.header.sha256);
        EXPECT_EQ(copy.header.source, narrow(folders[which]) + "\\r.txt") << "round " << round;
        EXPECT_TRUE(body == files[which]) << "round " << round;
    }
}

// event_log=1 writes what an administrator acts on, 2 also each routed link; no key or another value writes
// nothing (every run of check() shows its events). The central rule file's events (and the box of a missing one) are
// in WhitelistCopy's rows.
TEST(EventLog, EachKindIsWrittenWithItsLevelIdAndStringsOnlyWithTheKey)
{
    const std::string rules = "l.test/f*|local|firefox\nl.test/i*|local\nbad.test/*|elsewhere\nr.test/*|remote|x|y\n";
    const std::string one = "event_log=1\n", two = "event_log=2\n", file = "%R\\program\\\\url whitelist.txt";
    const std::string routed = "\nevent information 110: ", f = "https://l.test/f", n = "https://n.test/";
    const std::string by_firefox = f + " | " + f + " | line 1 of " + file +
                                   ": l.test/f*|local|firefox | the local browser firefox (asked of the "
                                   "shell by program name)";
    const std::string box = "\n" + fatal, error = "\nevent error ", &clipboard = held_clipboard;
    // clang-format off
    check({
        {one, rules, url_arg(f), "exit 0\nfirefox: " + f},
        {"event_log=3", rules, url_arg(f), "exit 0\nfirefox: " + f},
        {two, rules, url_arg(f), "exit 0\nfirefox: " + f + routed + by_firefox},
        {two, rules, url_arg(n), "exit 0\nviewer: -initialURL \"" + n + "\"" + routed + n + " | " + n + " | no rule matched; "
         "such a link goes to the viewer | the viewer, started with the link"},
        {two, rules, url_arg("https://r.test/"), "exit 0" + routed + "https://r.test/ | https://r.test/ | line 4 of " + file +
         ": r.test/*|remote|x|y | the running viewer, through its pipe\npipe: y|x|https://r.test/\0"s, L"",
         {{L"STANDIN_PIPE", L"\\\\.\\pipe\\feldrun-pipe"}}},
        {two, "", url_arg(n), "exit 0" + routed + n + " | " + n + " | no rule matched; such a link goes to the viewer | the "
         "running viewer, on the clipboard\nclipboard: nburl:" + n},
        // The rule's browser and the configured one give way to the last resort; without either, it is the way.
        {one + "local_firefox=%B", rules, url_arg(f), "exit 0\nbox: Error: File not found.\r\n\niexplore: " + f + "\nevent "
         "warning 210: firefox (asked of the shell by program name) and the configured browser %B (it does not exist) | " +
         f + " | the local browser iexplore (asked of the shell, as the last resort)"},
        {one, rules, url_arg("https://l.test/i"), "exit 0\niexplore: https://l.test/i"},
        {one + "safe_browser_arguments=1", "*|local|firefox", url_arg("/x"), "exit 0\nevent warning 211: /x"},
        {one + "strict_command_line=1", rules, url_arg("https://e.test/") + L" x", "exit 1\nevent warning 212: \"%R\\program"
         "\\Ostrilo.exe\" -url \"https://e.test/\" x | the command line is not <program> <switches> -url \"<link>\"."},
        {one, rules, url_arg("https://bad.test/a"), "exit 1\nevent warning 213: https://bad.test/a | line 3 of " + file +
         ": bad.test/*|elsewhere"},
        // The error boxes: the English reason and the box's text.
        {two, rules, url_arg(n), "exit 0" + box + no_viewer + no_viewer_event + routed + n + " | " + n + " | no rule matched; "
         "such a link goes to the viewer | nothing: no viewer was found"},
        {one + "local_browser_bin=%R\\seite \u00e4.html", rules, url_arg("https://l.test/i"), "exit 2" + box + "Der Start des "
         "lokalen Browsers ist fehlgeschlagen." + error + "304: The browser program configured in ostrilo.cfg could not "
         "be started. | Der Start des lokalen Browsers ist fehlgeschlagen."},
        // Wine prints no more than the first 290 characters or so of a string.
        {one, rules, url_arg(n), "exit 2" + box + clipboard + error + "302: Another program holds the clipboard, so the "
         "link could not be handed to the running viewer. | " + clipboard.substr(0, clipboard.find("Bitte ") + 7) + "...",
         L"", {{L"STANDIN_HOLD_CLIPBOARD", L"1"}}},
    });
    // clang-format on
}

// What Explorer's file properties, the installer and publisher rules of application control read.
// The version resources' texts: versions_agree.
TEST(Resources, TheExeCarriesItsIconAndTheMessageOfEveryEvent)
{
    HMODULE module = LoadLibraryExW((bin_folder() + L"\\Ostrilo.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14)), nullptr);  // the icon group
    // Every event's message as Event Viewer formats it, with as many strings as its row takes, each of them shown.
    for (const event_row& row : event_rows) {
        std::vector<std::wstring> strings;
        std::vector<DWORD_PTR> arguments;
        for (int i = 1; i <= row.strings; ++i)
            strings.push_back(L"<" + std::to_wstring(i) + L">");
        for (const std::wstring& text : strings)
            arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
        std::wstring expected = widen(row.message) + L"%n";
        for (std::size_t at; (at = expected.find(L'%')) != std::wstring::npos;)
            expected.replace(at, 2, expected[at + 1] == L'n' ? L"\r\n" : strings.at(expected[at + 1] - L'1'));
        wchar_t* text = nullptr;
        const DWORD length =
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                           module, static_cast<DWORD>(row.kind), 0, reinterpret_cast<wchar_t*>(&text), 0,
                           reinterpret_cast<va_list*>(arguments.data()));
        EXPECT_EQ(std::wstring(text ? text : L"", length), expected) << row.name;
        for (const std::wstring& shown : strings)
            EXPECT_NE(expected.find(shown), std::wstring::npos) << row.name;
        LocalFree(text);
    }
    FreeLibrary(module);
}

TEST(Help, TextReadsLineByLine)
{
    // Lines a reader of the box relies on, with their exact indentation.
    for (const wchar_t* line : {L"\n\n-url <URL>\n\n\tURL wird zum Viewer weitergeleitet\n\n\tBeispiele:\n",
                                L"\tDie Log-Datei wird unter %temp%\\kvixtemp\\feldrun.log gespeichert.\n"})
        EXPECT_NE(std::wstring(help_text()).find(line), std::wstring::npos) << narrow(line);
}

}  // namespace
