// The decisions of a run below its Win32 calls, from the pattern language to the viewer's pipe name;
// the dispatch of a URL calls a recorder instead of its two destinations.
#include "browser_call.h"
#include "entry.h"
#include "kvix_environment.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "run_context.h"
#include "unique_resource.h"
#include "url_rules.h"
#include "viewer.h"
#include "viewer_win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

using namespace std::string_literals;

static std::vector<std::wstring> calls;  // "local <mode> <url>" or "viewer <text>"

std::string open_url_locally(run_context&, const std::wstring& url, int mode)
{
    calls.push_back(L"local " + std::to_wstring(mode) + L" " + url);
    return "";
}
std::string open_url_in_kvix(run_context&, const std::wstring& text)
{
    calls.push_back(L"viewer " + text);
    return "";
}

namespace {

using text = std::optional<std::string>;

// Writes the file (none: removes it) in the temporary folder and gives its path.
std::string temp_file(const std::string& name, const text& content)
{
    const std::filesystem::path path = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove(path);
    if (content)
        std::ofstream(path, std::ios::binary) << *content;
    return path.string();
}

// The log records written to standard error as "LEVEL unit message": no time, source line or line end.
std::string records(const std::string& err)
{
    std::string out;
    for (std::size_t start = 0, end; (end = err.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = err.substr(start + 9, end - start - 9 - (err[end - 1] == '\r'));
        out += line.substr(0, line.find(':')) + line.substr(line.find(": ") + 1) + "\n";
    }
    return out;
}

// Scans the bytes as a rule file, opened in text mode as the program opens it.
std::optional<rule_match> scan(const std::string& contents, const std::string& url, bool strict_host = false)
{
    const unique_file file(std::fopen(temp_file("ostrilo_rules_test.txt", contents).c_str(), "r"));
    return scan_rule_file(url, file.get(), strict_host);
}

// A pattern and links, each behind two answers: the normalised link against the pattern alone (y/n), and against
// it as a rule line with strict_host_match=1 (y/n, '-': not asked), where no path, query, user name, backslash or
// escape lends a link another host.
TEST(MatchUrlExpr, FollowsThePatternLanguageAlsoWithStrictHostMatch)
{
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // A plain pattern is the whole host; only trailing slashes may follow. One https:// then one http:// is
        // dropped, and all is lower case.
        {"example.com",
         {"yy HTTPS://Example.com//", "nn example.com/page", "nn www.example.com", "y- https://http://example.com"}},
        {"https://example.com", {"y- http://https://example.com"}},
        {"www.example.com:8080/path?q=1#f", {"y- WWW.Example.com:8080/Path?Q=1#F"}},
        // "/*" at the end also covers the bare host, but no port.
        {"example.com/*", {"yy example.com", "nn example.com:81/page"}},
        // The dot rule: "*.example.com" also covers "example.com"; the rule file retries without "/*".
        {"*.example.com", {"yy a.b.example.com", "yy example.com", "nn xexample.com"}},
        {"*.example.com/*", {"yy example.com/page", "ny example.com"}},
        {"*.example.*", {"y- example.com"}},
        {"intranet.*", {"yy intranet.test/app", "nn www.intranet.test"}},
        {"example.com:*/*", {"yy example.com:81/x"}},
        // The first occurrence is taken, with no backtracking.
        {"*example.com", {"n- notexample.com.example.com"}},
        {"*", {"y- "}},
        {"example.com//**/", {"y- example.com"}},
        // Bytes are compared as they are; "?" is an ordinary character.
        {"\xc3\xbc", {"n- \xc3\x9c"}},
        {"example.com/?", {"n- example.com/x"}},
        // What a browser makes of the host.
        {"*.intranet.test/*",
         {"ny https://A.Intranet.Test./x", "ny https://a%2eintranet.test/", "yy https://evil.example@a.intranet.test/",
          "nn https://a.intranet.test@evil.example/", "yn https://evil.example:1.intranet.test/",
          "yn https://evil.example%2f.intranet.test/", "yn https://evil.example/x.intranet.test/",
          "yn https://evil.example\\.intranet.test/", "yn https://evil.example/?r=https://a.intranet.test/"}},
    };
    for (const auto& [pattern, links] : cases)
        for (const std::string& link : links) {
            const std::string url = normalise_url(link.substr(3));
            EXPECT_EQ(match_url_expr(pattern, url), link[0] == 'y') << pattern << " " << link;
            if (link[1] != '-') {
                EXPECT_EQ(scan(pattern + "|remote\n", url, true).has_value(), link[1] == 'y') << pattern << " " << link;
            }
        }
}

TEST(ScanRuleFile, ReturnsTheFirstMatchingRuleOfTheFile)
{
    const std::string long_piece = "example.com/" + std::string(4094 - 12, 'x');
    // File contents, normalised URL, dest of the matching rule (none: no match).
    // clang-format off
    const std::tuple<std::string, std::string, text> cases[] = {
        {"#*|remote\n\n   \n  \t#*|remote\n", "#x", {}},  // comments, also after leading blanks
        {"example.com/#x|remote\n", "example.com/#x", "remote"},
        {"example.com | remote\n", "example.com", {}},  // blanks around a separator stay in the pattern
        {"  \texample.com|remote \t\n", "example.com", "remote"},
        {"a.test|local\r\nexample.com|remote\r\nexample.com|local", "example.com", "remote"},
        {"https://http://example.com|remote\n", "example.com", "remote"},
        {"*.example.com/|remote\n", "www.example.com", "remote"},  // one trailing slash of the rule dropped
        {"*.example.com//|remote\n", "www.example.com", {}},
        {"*.example.com/*|remote\n", "example.com", "remote"},  // the retry without "/*"
        // A NUL ends the line, a BOM is part of the first pattern, UTF-16 matches nothing, CR alone ends no line.
        {"example.com/\0*|local\n"s, "example.com/x", {}},
        {"\xEF\xBB\xBF" "example.com/*|local", "example.com/", {}},
        {"\xFF\xFE" "e\0x\0a\0m\0p\0l\0e\0.\0c\0o\0m\0\r\0\n\0"s, "example.com", {}},
        {"a.test/*|remote\rexample.com/*|local\r", "example.com/", {}},
        // A line longer than one piece is two rules: its first 4094 bytes (no destination) and "|remote".
        {long_piece + "|remote\n", long_piece, "local"},
        {long_piece + "|remote\n", "/", "remote"},
        {long_piece + "\r\n|remote\r\n", "/", "remote"},
        // Ctrl-Z ends a file read in text mode.
        {"a.test/*|remote\x1a\nexample.com/*|remote\n", "example.com/", {}},
    };
    // clang-format on
    for (const auto& [contents, url, dest] : cases) {
        const std::optional<rule_match> rule = scan(contents, url);
        EXPECT_EQ(rule ? text(rule->dest) : text(), dest) << contents.substr(0, 40);
        // whitelist_copy=1 reads raw blocks (here of 7 bytes, so that CR LF is split) and matches the same.
        std::string_view rest = contents;
        const block_reader raw = [&rest](char* buffer, std::size_t size) {
            const std::size_t n = std::min<std::size_t>({size, 7, rest.size()});
            rest.copy(buffer, n), rest.remove_prefix(n);
            return n;
        };
        const std::optional<rule_hit> hit = find_rule_in_blocks(url, text_mode_reader{raw});
        EXPECT_EQ(hit ? text(hit->rule.dest) : text(), dest) << "raw blocks: " << contents.substr(0, 40);
    }
}

TEST(ConfigFile, ReadsTheTrimmedValueOfTheFirstMatchingLineInPiecesOf4094Bytes)
{
    // A line of more than 4094 bytes is read in pieces of 4094 bytes, each a line of its own.
    const std::string long_line = "first=" + std::string(4088, 'x') + "second=value\n";
    const std::tuple<text, std::string, text> cases[] = {
        {"[Settings]\n  whitelist_path  =  C:\\url whitelist.txt  \nx=y", "whitelist_path", "C:\\url whitelist.txt"},
        {"a=b\rc=d\n", "a", "b"},                       // text behind a carriage return is cut
        {"key==x\n", "key", "=x"},                      // only the first = splits
        {"a= b \t c \n", "a", "b \t c"},                // inner blanks and tabs of the value stay
        {"local_ie\t=\tx\n", "local_ie\t", "\tx"},      // tabs around = stay
        {"#Key=\"x y\"\n", "#key", "\"x y\""},          // no comments, no quoting
        {"WHITELIST_PATH=x\n", "whitelist_path", "x"},  // keys compare in any ASCII letter case
        {"a[=x\n\xc3\xbc=x\n", "A{", {}},               // only ASCII letters fold
        {"local_ie=x\n", "local_i", {}},
        {"product_name=\nproduct_name=  \r\nproduct_name=first\nproduct_name=second\n", "product_name", "first"},
        {std::nullopt, "local_ie", std::nullopt},  // no file
        {long_line, "first", std::string(4088, 'x')},
        {long_line, "second", "value"},
        {std::string(4093, 'k') + "=value\n", std::string(4093, 'k'), {}},  // the value in the next piece
        {std::string(4092, 'a') + "=b\nnext=n\n", std::string(4092, 'a'), "b"},
    };
    for (const auto& [content, key, value] : cases)
        EXPECT_EQ(get_config_value(key, temp_file("ostrilo_config_test.cfg", content)), value) << key.substr(0, 20);
}

TEST(ConfigDir, ExtractsTheFolderWithOneTrailingBackslash)
{
    const std::pair<std::string, text> cases[] = {
        {"x-configdir \"H:\\cfg\\\\\" \"y\"", "H:\\cfg\\"},
        {"-configdir A -configdir B", "A\\"},
        {"-configdirC:\\x -log", {}},
        {"-url http://x -configdir", {}},
    };
    for (const auto& [command_line, folder] : cases)
        EXPECT_EQ(get_configdir_from_cmdline(command_line), folder) << command_line;
}

// What a command line asks for: the action, its exit status, -log, the folder, the link and the last record. The
// forms that open a link, or refuse to under strict_command_line=1, are e2e_entry's CommandLine and Hostile rows.
TEST(CommandLine, ReadsWhatToDoAsOneValueAlsoWithStrictCommandLine)
{
    const char* names[] = {"help",           "set_registry", "at_logon", "choose_default",
                           "reset_registry", "open_link",    "nothing",  "refuse"};
    const std::tuple<std::string, bool, std::string> cases[] = {
        {"-log -setregistry -configdir \"C:\\cfg\\\\\"", false,
         "set_registry 0 log C:\\cfg: This is setregistry. Starting set_ostrilo_registry()"},
        {"-atlogon -setregistry -configdir \"C:\\cfg\"", true,
         "at_logon 0 C:\\cfg: This is setregistry at logon. Starting set_ostrilo_registry() without a window"},
        {"-choosedefault", true, "choose_default 0: This is choosedefault. Starting ask_for_default_browser()"},
        {"-unsetregistry http://e.test", false,
         "reset_registry 0: This is resetregistry. Starting reset_ostrilo_registry()"},
        {"-configdir C:\\cfg", true, "nothing -3 C:\\cfg: There is no URL. I will return."},
    };
    for (const auto& [narrow, strict_key, expected] : cases) {
        const std::wstring wide = L"\"C:\\Ostrilo.exe\" " + *utf8_to_wide(narrow);
        const command_line_value value = read_command_line(narrow, wide, strict_key);
        std::string got = names[static_cast<int>(value.action)] + " "s + std::to_string(value.status);
        got += (value.log ? " log" : "") + (value.configdir ? " " + *value.configdir : "");
        got += value.narrow_link.empty() ? "" : " <" + value.narrow_link + ">";
        got += value.records.empty() ? "" : ": " + value.records.back().text;
        EXPECT_EQ(got, expected) << narrow;
    }
}

// The texts that start a local browser: format directives in the URL stay, and the cuts are exact.
TEST(BrowserCall, QuotesPathAndUrlLeavesTheirInsidesAloneAndCutsAt4095)
{
    const std::wstring path = L"C:\\Br\u00F6wser\\b.exe", prefix = L"\"" + path + L"\" \"";
    EXPECT_EQ(browser_call_text(path, L"http://x/a b?%ls%s%%\"q\""), prefix + L"http://x/a b?%ls%s%%\"q\"\"");
    EXPECT_EQ(edge_protocol_text(L"https://x/a b?%ls%s\"q\""), L"microsoft-edge:https://x/a b?%ls%s\"q\"");
    // Links that make the call exactly 4095 characters long or one more, then the Edge call 4094 or one more.
    for (std::size_t url_length : {4074u, 4075u, 4079u, 4080u}) {
        const std::wstring url(url_length, L'u');
        EXPECT_EQ(browser_call_text(path, url), (prefix + url + L"\"").substr(0, 4095)) << url_length;
        EXPECT_EQ(edge_protocol_text(url), (L"microsoft-edge:" + url).substr(0, 4094)) << url_length;
    }
}

TEST(SafeBrowserArgument, EncodesWhatWouldSplitTheArgumentAndRefusesWhatStaysUnsafe)
{
    const std::wstring longest(safe_argument_limit, L'u');
    const std::tuple<std::wstring, bool, std::optional<std::wstring>> cases[] = {
        {L"https://x/a b\t\"c\x7f\x85\U0001F600\u00e4%20\\", false,
         L"https://x/a%20b%09%22c%7F%C2%85\U0001F600\u00e4%20\\"},
        {L"C:\\My Files\\a.html", true, L"\"C:\\My Files\\a.html\""},
        {L"-x", false, std::nullopt},
        {L"https://x/\xD800", false, std::nullopt},
        {longest, false, longest},
        {longest + L"u", false, std::nullopt},
        {longest.substr(1) + L" ", false, std::nullopt},  // too long once encoded
    };
    for (const auto& [url, is_file, expected] : cases)
        EXPECT_EQ(safe_browser_argument(url, is_file), expected) << url.size();
    EXPECT_EQ(safe_browser_call_text(L"C:\\b.exe", L"https://x/%22"), L"\"C:\\b.exe\" https://x/%22");
}

TEST(FatalErrorText, NamesTheErrorNumberOnlyWhenThereIsOne)
{
    const std::tuple<unsigned, std::optional<std::wstring>, const wchar_t*> cases[] = {
        {0, L"ignored", L"Nachricht"},
        {2, L"File not found.\r\n", L"Nachricht\n\nSystemfehlercode 2: File not found.\r\n"},
        {4294967295u, L"x", L"Nachricht\n\nSystemfehlercode -1: x"},
        {98765, std::nullopt, L"Nachricht\n\nSystemfehlercode 98765: (keine Beschreibung verfügbar)"},
    };
    for (const auto& [error_number, system_text, shown] : cases)
        EXPECT_EQ(fatal_error_text(L"Nachricht", error_number, system_text), shown) << error_number;
}

TEST(RouteUrl, CallsTheDestinationTheMatchingRuleNamesAndLogsIt)
{
    const std::wstring url = L"https://rules.test/page", long_url = url + std::wstring(5000, L'a');
    const std::string local = "INFO  ostrilo Opening URL locally.\n", debug = local + "DEBUG ostrilo ",
                      viewer = "DEBUG ostrilo Opening URL in kvix: ";
    // Rule, URL, status, the call, the dispatch's records. The viewer gets profile, browser and URL
    // joined by "|" (as UTF-8: e2e_entry's pipe rows) and cut at 4093 bytes; the record shows the whole text.
    // clang-format off
    const std::tuple<const char*, std::wstring, int, std::wstring, std::string> cases[] = {
        {"rules.test/*", url, 0, L"local 0 " + url,
         debug + "No browser specified in URL whitelist. Opening URL locally using IE\n"},
        {"rules.test/*|LOCAL|Firefox", url, 0, L"local 2 " + url,  // with the records of the rule line
         "TRACE nb_utils get_field: read field 0: <rules.test/*>\nTRACE nb_utils get_field: read field 1: <local>\n"
         "TRACE nb_utils get_field: read field 2: <firefox>\nWARN  nb_utils get_field: couldn't reach field 3 in "
         "rules.test/*|local|firefox (this isn't necessarily bad). Not enough fields separated by '|'?\n"
         "TRACE kvix_environment  --> url_expr: <rules.test/*>\nTRACE kvix_environment  --> dest: <local>\n"
         "TRACE kvix_environment  --> browser: <firefox>\nTRACE kvix_environment  --> browser_profile: <(null)>\n"
         "TRACE kvix_environment Read line from whitelist: rules.test/*\n" + debug +
             "Opening URL locally using Firefox\n"},
        {"rules.test/*|local|opera", url, 0, L"local 0 " + url, local + "WARN  ostrilo Unknown browser 'opera' in URL "
         "whitelist. Opening URL locally using the default browser\n"},
        {"rules.test/*|remote|b|p", long_url, 0, L"viewer " + (L"p|b|" + long_url).substr(0, 4093),
         viewer + "p|b|https://rules.test/page" + std::string(5000, 'a') + "\n"},
        {"other.test|local", url, 0, L"viewer " + url,
         "INFO  ostrilo Opening URL in kvix (didn't find any match in url list)\n"},
        {"rules.test/*||firefox", url, 1, L"",  // neither "local" nor "remote": nothing is opened
         "ERROR ostrilo Error: couldn't figure out if the URL should be opened locally or remotely... Aborting.\n"},
    };
    // clang-format on
    run_context run;
    run.configdir = std::filesystem::temp_directory_path().string();
    for (const auto& [rule, target, status, call, expected] : cases) {
        temp_file("url whitelist.txt", rule + "\n"s);
        calls.clear();
        testing::internal::CaptureStderr();
        EXPECT_EQ(route_url(run, target, *wide_to_utf8(target)), status) << rule;
        const std::string logged = records(testing::internal::GetCapturedStderr());
        EXPECT_NE(logged.find(expected), std::string::npos) << rule << "\n" << logged;
        EXPECT_EQ(calls, call.empty() ? std::vector<std::wstring>{} : std::vector{call}) << rule;
    }
    temp_file("url whitelist.txt", {});
}

// Hidden windows of this process, made last to first: EnumWindows meets the newest first.
using unique_window = unique_any<HWND, &DestroyWindow>;
std::vector<unique_window> make_windows(const std::vector<std::string>& titles)
{
    std::vector<unique_window> windows(titles.size());
    for (std::size_t i = titles.size(); i-- > 0;)
        windows[i].reset(CreateWindowExA(0, "STATIC", titles[i].c_str(), WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                                         nullptr, nullptr));
    return windows;
}

// Titles in enumeration order, the one taken. The product name is the default one: the test has no viewer settings.
TEST(ViewerWindow, TakesTheWindowWhoseTitleNamesTheViewer)
{
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"Corvane-Pro A", "Corvane-Pro B"}, 0},
        {{"Notepad", "jo@host 96dpi"}, 1},       // an old-style title with @ and dpi
        {{"jo@host 96dpi", "Corvane-Pro"}, 1},   // a later product-name window replaces it
        {{"a@b dpi", "c@d dpi", "Notepad"}, 1},  // of several old-style windows the last
        {{"corvane-pro viewer", "CORVANE-PRO"}, -1},
        {{std::string(116, 'x') + "Corvane-Pro"}, 0},  // the name ends at the 127th character
        {{std::string(117, 'x') + "Corvane-Pro"}, -1},
    };
    for (const auto& [titles, taken] : cases) {
        run_context run;
        const std::vector<unique_window> windows = make_windows(titles);
        EXPECT_EQ(get_viewer_main_window_handle(run, GetCurrentProcessId(), true),
                  taken < 0 ? nullptr : windows[static_cast<std::size_t>(taken)].get())
            << titles[0];
    }
}

// This test program, showing a viewer window, stands in for the running viewer. Under Wine every
// process belongs to the one user, so "another user's viewer" is one looked for under another name.
TEST(FindProcessByName, FindsOnlyTheCurrentUsersProcessOfThatName)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::vector<unique_window> windows = make_windows({"Corvane-Pro Viewer"});
    // "": the current user's name.
    const std::pair<text, DWORD> cases[] = {
        {"", GetCurrentProcessId()}, {{}, GetCurrentProcessId()}, {"someone_else", 0}};
    for (const auto& [user, found] : cases) {
        run_context run;
        const text who = user && user->empty() ? get_os_user_name(run) : user;
        EXPECT_EQ(find_process_by_name(run, std::strrchr(path, '\\') + 1, who), found) << who.value_or("-");
    }
}

// ostrilo-admin status: the file holds the copy's rules only when it holds the copy's bytes, even when both are
// empty. (A copy of the same rules is AdminStatus.NamesTheCopyOfTheCentralFile..., status never asks without a copy.)
TEST(RuleCopy, MatchesTheFileOnlyWhenItHoldsTheCopysBytes)
{
    for (const auto& [body, file, matches] : {std::tuple{"", "", true}, {"a/*|x\r\n", "a/*|y\r\n", false}}) {
        rule_copy copy;
        copy.present = true;
        copy.text = rule_copy_header_text({"f", "t", std::string(64, '0'), std::strlen(body)}) + body;
        copy.parsed = parse_rule_copy(copy.text);
        std::string reason;
        EXPECT_EQ(file_matches_copy(temp_file("ostrilo_copy_test.txt", file), copy, reason), matches) << file;
    }
}

TEST(PipeName, IsTheFirstLineOfThePipeNameFileAsReadOrTheStandardName)
{
    run_context run;
    const std::pair<std::string, std::string> cases[] = {
        {"", "\\\\.\\pipe\\feldrun-pipe"},                         // the file, the name
        {"\\\\.\\pipe\\a\r\n\\\\.\\pipe\\b", "\\\\.\\pipe\\a\n"},  // its line end kept
        {std::string(5000, 'p'), std::string(4094, 'p')},
    };
    const std::string path = get_pipe_name_file_path(run).value();
    for (const auto& [content, name] : cases) {
        std::ofstream(path, std::ios::binary) << content;
        EXPECT_EQ(get_pipe_name(run), name);
    }
    std::filesystem::remove(path);
}

}  // namespace
