// Links and files an attacker may shape, through the real Ostrilo.exe: each row
// states what a user or administrator sees, with the hardening keys of
// ostrilo.cfg off and on. No row may crash or hang.
#include "sandbox.h"

#include <gtest/gtest.h>

namespace {

const std::string safe = "safe_browser_arguments=1", host = "strict_host_match=1", line = "strict_command_line=1";
const char spoofable[] = "*.intranet.test/*|local|firefox\r\n*|remote\r\n";

template <class text>
text replace(text all, const text& what, const text& with)
{
    for (std::size_t at; (at = all.find(what)) != text::npos;)
        all.replace(at, what.size(), with);
    return all;
}

struct hostile_case {
    std::string config, rules;  // ostrilo.cfg (local_browser_bin is added) and "url whitelist.txt" beside the program
    std::wstring arguments;     // "%A" stands for a folder of rules sending every link to firefox
    std::string expected;       // the outcome
    bool locked = false;        // another program holds the rule file open, sharing nothing
};

TEST(Hostile, EachHostileInputEndsAsDocumentedWithTheHardeningKeysOffAndOn)
{
    const std::string long_link = "https://example.com/" + std::string(5000, 'a');
    // clang-format off
    std::vector<hostile_case> cases = {
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
        {"", "*|local|firefox", L"-url \"https://a.test/\"", "exit 0\nviewer: -initialURL \"https://a.test/\"", 1},
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
    for (const hostile_case& c : cases) {
        sandbox box;
        box.standins();
        const std::wstring attacker = box.root + L"\\attacker";
        write_file(attacker + L"\\url whitelist.txt", "*|local|firefox\r\n");
        box.put(L"ostrilo.cfg", c.config + "\r\nlocal_browser_bin=" + narrow(box.standin_path("browser")) + "\r\n");
        box.put(L"url whitelist.txt", c.rules);
        const std::wstring arguments = replace<std::wstring>(c.arguments, L"%A", attacker);
        SCOPED_TRACE(c.config + " " + narrow(arguments));
        HANDLE lock = c.locked ? CreateFileW((box.program_dir + L"\\url whitelist.txt").c_str(), GENERIC_READ, 0,
                                             nullptr, OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
        const run_result run = box.run(arguments);
        CloseHandle(lock);
        const std::string expected = replace<std::string>(c.expected, "%A", narrow(attacker));
        EXPECT_EQ(box.outcome(run, expected), expected) << run.err;
    }
}

TEST(Hostile, WithStrictCommandLineTheRegisteredOpenCommandPutsTheLinkLast)
{
    clean_registry registry(L"win7");
    for (const bool strict : {false, true}) {
        sandbox box;
        box.put(L"ostrilo.cfg", strict ? line : "");
        EXPECT_EQ(box.run(L"-setregistry -configdir \"C:\\cfg\"").exit_code, 0u);
        std::set<std::string> lines;
        const std::string key = "Software\\Classes\\NB.HTTP\\shell\\open\\command", exe = '"' + narrow(box.exe()) + '"';
        registry_dump(HKEY_CURRENT_USER, widen(key), lines);
        EXPECT_TRUE(
            lines.contains(key + " []=" + exe +
                           (strict ? " -configdir \"C:\\cfg\" -url \"%1\"" : " -url \"%1\" -configdir \"C:\\cfg\"")))
            << *lines.rbegin();
    }
}

}  // namespace
