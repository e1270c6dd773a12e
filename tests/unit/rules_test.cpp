// The rule line format, the pattern language and the reading of rule files.
#include "url_rules.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace std::string_literals;

namespace {

using text = std::optional<std::string>;

TEST(MatchUrlExpr, FollowsThePatternLanguage)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        // A plain pattern is the whole host; only trailing slashes may follow.
        {"example.com", "example.com//", true},
        {"example.com", "example.com/page", false},
        {"example.com", "www.example.com", false},
        // "/*" at the end also covers the bare host, but no port.
        {"example.com/*", "example.com", true},
        {"example.com/*", "example.com/page?x=1", true},
        {"example.com/*", "example.com:81/page", false},
        // The dot rule: "*.example.com" also covers "example.com".
        {"*.example.com", "a.b.example.com", true},
        {"*.example.com", "example.com", true},
        {"*.example.com", "www.example.com/page", false},
        {"*.example.com", "xexample.com", false},
        {"*.example.com/*", "example.com/page", true},
        {"*.example.com/*", "example.com", false},  // only the rule file's retry covers it
        {"*.example.*", "example.com", true},
        // The first occurrence is taken, with no backtracking.
        {"*example.com", "notexample.com.example.com", false},
        {"*ab", "abab", false},
        {"*", "", true},
        {"a**c", "abc", true},
        {"a*b", "axxbc", false},
        {"example.com/page", "example.com", false},
        {"example.com//**/", "example.com", true},
        {"", "a", false},
        {"a", "", false},
        // Bytes are compared as they are; "?" is an ordinary character.
        {"\xc3\xbc", "\xc3\x9c", false},
        {"example.com/?", "example.com/x", false},
    };
    for (const auto& [pattern, url, expected] : cases)
        EXPECT_EQ(match_url_expr(pattern, url), expected) << "pattern '" << pattern << "', url '" << url << "'";
}

TEST(NormaliseUrl, LowerCasesAndDropsOneHttpsThenOneHttpPrefix)
{
    const std::pair<const char*, const char*> cases[] = {
        {"HTTPS://Example.com/", "example.com/"},
        {"https://http://example.com", "example.com"},
        {"http://https://example.com", "https://example.com"},
        {"ftp://example.com", "ftp://example.com"},
        {"WWW.Example.com:8080/Path?Q=1#F", "www.example.com:8080/path?q=1#f"},
    };
    for (const auto& [url, expected] : cases)
        EXPECT_EQ(normalise_url(url), expected) << url;
}

TEST(ParseRuleLine, FillsTheFourFieldsAndDefaultsOnlyAnAbsentDestToLocal)
{
    const std::pair<const char*, std::tuple<std::string, std::string, text, text>> cases[] = {
        {"example.com", {"example.com", "local", {}, {}}},
        {"example.com||firefox", {"example.com", "", "firefox", {}}},
        {"example.com | remote", {"example.com ", " remote", {}, {}}},
        {"example.com|remote||", {"example.com", "remote", "", ""}},
        {"example.com|remote|b|p|extra|more", {"example.com", "remote", "b", "p"}},
    };
    for (const auto& [line, expected] : cases) {
        const rule_match rule = parse_rule_line(line);
        EXPECT_EQ(std::tie(rule.url_expr, rule.dest, rule.browser, rule.browser_profile), expected) << line;
    }
}

// Scans the bytes as a rule file, opened in text mode as the program opens it.
std::optional<rule_match> scan(const std::string& contents, const std::string& url, bool strict_host = false)
{
    const std::string path = (std::filesystem::temp_directory_path() / "ostrilo_rules_test.txt").string();
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(contents.data(), 1, contents.size(), file);
    file = std::freopen(path.c_str(), "r", file);
    std::optional<rule_match> rule = scan_rule_file(url, file, strict_host);
    std::fclose(file);
    std::filesystem::remove(path);
    return rule;
}

TEST(ScanRuleFile, ReturnsTheFirstMatchingRuleOfTheFile)
{
    const std::string long_piece = "example.com/" + std::string(4094 - 12, 'x');
    // File contents, normalised URL, dest of the matching rule (none: no match).
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
        // Bytes of odd files: a NUL ends the line, a BOM is part of the first
        // pattern, UTF-16 matches nothing, CR alone ends no line.
        {"example.com/\0*|local\n"s, "example.com/x", {}},
        {"\xEF\xBB\xBF"
         "example.com/*|local",
         "example.com/",
         {}},
        {"\xFF\xFE"
         "e\0x\0a\0m\0p\0l\0e\0.\0c\0o\0m\0\r\0\n\0"s,
         "example.com",
         {}},
        {"a.test/*|remote\rexample.com/*|local\r", "example.com/", {}},
        // A line longer than one piece is read as two rules: its first 4094
        // bytes (a pattern without destination) and the rest ("|remote").
        {long_piece + "|remote\n", long_piece, "local"},
        {long_piece + "|remote\n", "/", "remote"},
    };
    for (const auto& [contents, url, dest] : cases) {
        const std::optional<rule_match> rule = scan(contents, url);
        EXPECT_EQ(rule ? text(rule->dest) : text(), dest) << contents.substr(0, 40);
    }
}

// strict_host_match=1: every row of README's pattern table still holds, and
// no path, query, fragment, backslash or escape lends a link another host.
const std::tuple<const char*, const char*, bool> strict_cases[] = {
    {"example.com", "https://example.com", true},
    {"example.com", "http://example.com/", true},
    {"example.com", "example.com/page", false},
    {"example.com", "www.example.com", false},
    {"example.com/*", "example.com", true},
    {"example.com/*", "example.com/page?x=1", true},
    {"example.com/*", "example.com:81/page", false},
    {"*.example.com", "www.example.com", true},
    {"*.example.com", "a.b.example.com", true},
    {"*.example.com", "example.com", true},
    {"*.example.com", "www.example.com/page", false},
    {"*.example.com/*", "www.example.com/page", true},
    {"*.example.com/*", "example.com/page", true},
    {"*.example.com/*", "example.com", true},
    {"*.example.com/*", "example.org", false},
    {"intranet.*", "intranet.test", true},
    {"intranet.*", "intranet.test/app", true},
    {"intranet.*", "www.intranet.test", false},
    {"*", "any.test:81/path?q=1#f", true},
    {"example.com:*/*", "example.com:81/x", true},
    // What a browser makes of the host.
    {"*.intranet.test/*", "https://A.Intranet.Test./x", true},
    {"*.intranet.test/*", "https://a%2eintranet.test/", true},
    {"*.intranet.test/*", "https://evil.example@a.intranet.test/", true},
    {"*.intranet.test/*", "https://a.intranet.test@evil.example/", false},
    {"*.intranet.test/*", "https://evil.example:1.intranet.test/", false},
    {"*.intranet.test/*", "https://evil.example%2f.intranet.test/", false},
    {"*.intranet.test/*", "https://evil.example/x.intranet.test/", false},
    {"*.intranet.test/*", "https://evil.example/?.intranet.test", false},
    {"*.intranet.test/*", "https://evil.example/.intranet.test", false},
    {"*.intranet.test/*", "https://evil.example#.intranet.test/", false},
    {"*.intranet.test/*", "https://evil.example\\.intranet.test/", false},
    {"*.intranet.test/*", "https://evil.example/?r=https://a.intranet.test/", false},
    {"*.intranet.test/*", "https://evil.example/%2e.intranet.test", false},
};

TEST(ScanRuleFile, StrictHostMatchComparesOnlyTheHostABrowserWouldUse)
{
    for (const auto& [pattern, link, expected] : strict_cases)
        EXPECT_EQ(scan(pattern + "|remote\n"s, normalise_url(link), true).has_value(), expected)
            << pattern << " " << link;
}

TEST(ScanRuleFile, LogsTheFieldsAndThePatternOfEachRuleLine)
{
    testing::internal::CaptureStderr();
    scan("# comment\nHTTPS://Example.com/|Remote|Chrome\n", "no.match");
    const std::string err = testing::internal::GetCapturedStderr();
    std::string records;
    for (std::size_t start = 0, end; (end = err.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = err.substr(start + 9, end - start - 9 - (err[end - 1] == '\r'));  // without the time
        records += line.substr(0, line.find(':')) + line.substr(line.find(": ") + 1) + "\n";
    }
    EXPECT_EQ(records,
              "TRACE nb_utils get_field: read field 0: <https://example.com/>\n"
              "TRACE nb_utils get_field: read field 1: <remote>\n"
              "TRACE nb_utils get_field: read field 2: <chrome>\n"
              "WARN  nb_utils get_field: couldn't reach field 3 in https://example.com/|remote|chrome (this isn't "
              "necessarily bad). Not enough fields separated by '|'?\n"
              "TRACE kvix_environment  --> url_expr: <https://example.com/>\n"
              "TRACE kvix_environment  --> dest: <remote>\n"
              "TRACE kvix_environment  --> browser: <chrome>\n"
              "TRACE kvix_environment  --> browser_profile: <(null)>\n"
              "TRACE kvix_environment Read line from whitelist: example.com\n"
              "TRACE kvix_environment final chars: om\n");
}

}  // namespace
