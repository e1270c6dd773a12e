// Links and files an attacker may shape, through the real Ostrilo.exe: each row
// states what a user or administrator sees, with the hardening keys of
// ostrilo.cfg off and on. No row may crash or hang.
#include "sandbox.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

const char spoofable[] = "*.intranet.test/*|local|firefox\r\n*|remote\r\n";
const char safe_on[] = "safe_browser_arguments=1\r\n";
const char strict_host_on[] = "strict_host_match=1\r\n";
const char strict_line_on[] = "strict_command_line=1\r\n";
const char bad_shape[] =
    "strict_command_line: the command line is not <program> <switches> -url \"<link>\". "
    "Nothing is opened.";

struct hostile_case {
    const char* behaviour;
    std::string config;      // ostrilo.cfg beside the program (local_browser_bin is always added)
    std::string rules;       // "url whitelist.txt" beside the program
    std::wstring arguments;  // behind the program; "<attacker>" stands for a folder of rules sending all to firefox
    DWORD exit_code;
    std::string browser;      // parameters the firefox stand-in got ("=" prefix: the local_browser_bin one), or ""
    std::string viewer;       // the -initialURL value of the started viewer, or ""
    std::string record = {};  // a record that must be written (level, blank, message)
    bool locked = false;      // another program holds the rule file open, sharing nothing
};

std::wstring replace(std::wstring text, const std::wstring& what, const std::wstring& with)
{
    for (std::size_t at; (at = text.find(what)) != std::wstring::npos;)
        text.replace(at, what.size(), with);
    return text;
}

TEST(Hostile, EachHostileInputEndsAsDocumentedWithTheHardeningKeysOffAndOn)
{
    // Two of the links that the unit table of strict host matching rejects.
    const std::wstring spoofs[] = {L"https://evil.example/x.intranet.test/", L"https://evil.example\\.intranet.test/"};
    const std::string long_path(5000, 'a');
    std::vector<hostile_case> cases = {
        // A link smuggles a flag past the browser's one argument.
        {"off: a blank splits the link into two browser arguments", "", "example.com/*|local|firefox",
         L"-url \"https://example.com/?q=1 --gpu-launcher=cmd\"", 0, "https://example.com/?q=1 --gpu-launcher=cmd", ""},
        {"on: the blank is encoded", safe_on, "example.com/*|local|firefox",
         L"-url \"https://example.com/?q=1 --gpu-launcher=cmd\"", 0, "https://example.com/?q=1%20--gpu-launcher=cmd",
         ""},
        {"on: quotes and blanks encoded for a configured browser", safe_on, "example.com/*|local",
         L"-url \"https://example.com/\\\" --some-flag \\\"\"", 0, "=https://example.com/%22%20--some-flag%20%22", ""},
        {"on: a link that a browser would read as a switch is not opened", safe_on, "*|local|firefox", L"-url \"/x\"",
         0, "", "",
         "ERROR Refusing to open </x> locally: it cannot be passed to a browser as one "
         "safe argument"},
        // A link chooses the configuration folder.
        {"off: -configdir inside the link picks the rule folder", "", "*|remote",
         L"-url \"https://evil.example/-configdir=<attacker>\"", 0, "https://evil.example/-configdir=<attacker>", ""},
        {"on: the folder stays unset", strict_line_on, "*|remote",
         L"-url \"https://evil.example/-configdir=<attacker>\"", 0, "", "||https://evil.example/-configdir=<attacker>",
         "ERROR Couldn't read configdir from command line!"},
        {"off: a quote in the link ends it and adds a switch", "", "*|remote",
         L"-url \"https://example.com/\" -configdir \"<attacker>\"", 0, "https://example.com/", ""},
        {"on: everything up to the last quote is the link", strict_line_on, "*|remote",
         L"-url \"https://example.com/\" -x \"<attacker>\"", 0, "", "||https://example.com/%22+-x+%22<attacker>"},
        {"on: a folder behind the link is refused", strict_line_on, "*|remote",
         L"-url \"https://example.com/\" -configdir \"<attacker>\"", 1, "", "",
         "ERROR strict_command_line: -configdir stands behind the link; run Ostrilo.exe -setregistry again. "
         "Nothing is opened."},
        {"on: the registered folder before -url still counts", strict_line_on, "*|remote",
         L"-configdir \"<attacker>\" -url \"https://example.com/\"", 0, "https://example.com/", ""},
        {"on: text behind the link's closing quote is refused", strict_line_on, "*|remote",
         L"-url \"https://example.com/\" x", 1, "", "", "ERROR "s + bad_shape},
        {"on: a link without -url is refused", strict_line_on, "*|remote", L"https://example.com/", 1, "", "",
         "ERROR strict_command_line: a link must follow -url in double quotes, at the end. Nothing is opened."},
        // Files and links of odd shape.
        {"an overlong link goes remote", "", "", L"-url \"https://example.com/" + widen(long_path) + L"\"", 0, "",
         "https://example.com/" + long_path},
        {"a locked rule file is passed over", "", "*|local|firefox", L"-url \"https://example.com/\"", 0, "",
         "https://example.com/", "", true},
        {"a lone surrogate is looked up as an empty link and reaches the browser as it came", "", "*|local|firefox",
         L"-url \"https://example.com/\xD800\"", 0, "https://example.com/\xEF\xBF\xBD", ""},
        {"an odd quote leaves the rest in the link", "", "*|local|firefox", L"-url \"https://example.com/a\"b c", 0,
         "https://example.com/ab", ""},
    };
    for (const std::wstring& link : spoofs) {
        cases.push_back(
            {"off: a spoofed host opens locally", "", spoofable, L"-url \"" + link + L"\"", 0, narrow(link), ""});
        cases.push_back({"on: a spoofed host goes remote", strict_host_on, spoofable, L"-url \"" + link + L"\"", 0, "",
                         "||" + narrow(link)});
    }
    cases.push_back({"on: the real host, as a browser writes it, stays local", strict_host_on, spoofable,
                     L"-url \"https://u@WWW.Intranet.Test./a\"", 0, "https://u@WWW.Intranet.Test./a", ""});
    for (const hostile_case& c : cases) {
        sandbox box;
        const std::wstring attacker = box.root + L"\\attacker";
        write_file(attacker + L"\\url whitelist.txt", "*|local|firefox\r\n");
        const std::wstring firefox = box.program_dir + L"\\firefox.exe", configured = box.root + L"\\b\\browser.exe";
        box.standin(firefox);
        box.standin(configured);
        box.standin(box.program_dir + L"\\vncviewer.exe", L"vncviewer_2_1_4");
        box.put(L"ostrilo.cfg", c.config + "\r\nlocal_browser_bin=" + narrow(configured) + "\r\n");
        box.put(L"url whitelist.txt", c.rules);

        const std::wstring arguments = replace(c.arguments, L"<attacker>", attacker);
        HANDLE lock = c.locked ? CreateFileW((box.program_dir + L"\\url whitelist.txt").c_str(), GENERIC_READ, 0,
                                             nullptr, OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
        const run_result run = box.run(arguments);
        if (lock != INVALID_HANDLE_VALUE)
            CloseHandle(lock);
        SCOPED_TRACE(c.behaviour + " "s + narrow(arguments));

        EXPECT_EQ(run.exit_code, c.exit_code);
        EXPECT_TRUE(run.boxes.empty());
        const std::string viewer = narrow(replace(widen(c.viewer), L"<attacker>", attacker));
        const std::string browser = narrow(replace(widen(c.browser), L"<attacker>", attacker));
        const bool configured_one = browser.starts_with('=');
        EXPECT_EQ(parameters_of(calls_of(configured_one ? configured : firefox, !browser.empty())),
                  browser.substr(configured_one));
        EXPECT_EQ(calls_of(configured_one ? firefox : configured, false), "");
        EXPECT_EQ(calls_of(box.program_dir + L"\\vncviewer.exe", !viewer.empty()),
                  viewer.empty() ? ""
                                 : "\"" + narrow(box.program_dir) + "\\\\vncviewer.exe\" -initialURL \"" + viewer +
                                       "\"\n" + narrow(box.program_dir) + "\n");
        EXPECT_TRUE(c.record.empty() || run.has(c.record)) << c.record << "\n" << run.err;
    }
}

TEST(Hostile, WithStrictCommandLineTheRegisteredOpenCommandPutsTheLinkLast)
{
    clean_registry registry(L"win7");
    for (const bool strict : {false, true}) {
        sandbox box;
        box.put(L"ostrilo.cfg", strict ? strict_line_on : "");
        EXPECT_EQ(box.run(L"-setregistry -configdir \"C:\\cfg\"").exit_code, 0u);
        std::set<std::string> lines;
        registry_dump(HKEY_CURRENT_USER, L"Software\\Classes\\NB.HTTP\\shell\\open\\command", lines);
        const std::string exe = "\"" + narrow(box.exe()) + "\"";
        EXPECT_TRUE(lines.contains(
            "Software\\Classes\\NB.HTTP\\shell\\open\\command []=" +
            (strict ? exe + " -configdir \"C:\\cfg\" -url \"%1\"" : exe + " -url \"%1\" -configdir \"C:\\cfg\"")))
            << *lines.rbegin();
    }
}

}  // namespace
