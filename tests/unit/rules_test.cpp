// The rule line format, the pattern language and the reading of rule files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "url_rules.h"

namespace {

using std::nullopt;
using namespace std::string_literals;
using opt = std::optional<std::string>;

// --- The pattern language ---

const std::tuple<const char*, const char*, bool> match_cases[] = {
    // A plain pattern is the whole host; only trailing slashes may follow.
    {"example.com", "example.com", true},
    {"example.com", "example.com/", true},
    {"example.com", "example.com//", true},
    {"example.com", "example.com/page", false},
    {"example.com", "example.com.other.test", false},
    {"example.com", "www.example.com", false},
    // "/*" at the end also covers the bare host, but no port.
    {"example.com/*", "example.com", true},
    {"example.com/*", "example.com/", true},
    {"example.com/*", "example.com/page?x=1", true},
    {"example.com/*", "example.com:81/page", false},
    // The dot rule.
    {"*.example.com", "www.example.com", true},
    {"*.example.com", "a.b.example.com", true},
    {"*.example.com", "example.com", true},
    {"*.example.com", "www.example.com/page", false},
    {"*.example.com", "xexample.com", false},
    {"*.example.com/a", "example.com/a", true},
    {"*.example.com/*", "www.example.com/page", true},
    {"*.example.com/*", "example.com/page", true},
    {"*.example.com/*", "example.com", false},  // only the rule file's retry covers it
    {"*.example.*", "example.com", true},       // trailing star after a dot segment
    {"intranet.*", "intranet.test", true},
    {"intranet.*", "intranet.test/app", true},
    // The first occurrence is taken, with no backtracking; a star segment occurring twice.
    {"*example.com", "notexample.com.example.com", false},
    {"*ab", "abab", false},
    // Stars.
    {"*", "", true},
    {"*", "any.test/path?q=1#f", true},
    {"a**c", "abc", true},
    {"a*b", "axxb", true},
    {"a*b", "axxbc", false},
    // Pattern longer than the URL, empty pattern, empty URL.
    {"example.com/page", "example.com", false},
    {"example.com//**/", "example.com", true},
    {"", "", true},
    {"", "a", false},
    {"a", "", false},
    // Bytes are compared as they are; non-ASCII bytes are ordinary characters.
    {"b\xc3\xbc" "cher.de", "b\xc3\xbc" "cher.de", true},
    {"\xc3\xbc", "\xc3\x9c", false},
    {"example.com/?", "example.com/x", false},  // "?" is an ordinary character
};

TEST(MatchUrlExpr, FollowsThePatternLanguage)
{
    for (const auto& [pattern, url, expected] : match_cases)
        EXPECT_EQ(match_url_expr(pattern, url), expected) << "pattern '" << pattern << "', url '" << url << "'";
}

// --- URL normalisation ---

const std::pair<const char*, const char*> normalise_cases[] = {
    {"HTTPS://Example.com/", "example.com/"},
    {"http://example.com", "example.com"},
    {"https://http://example.com", "example.com"},
    {"http://https://example.com", "https://example.com"},
    {"ftp://example.com", "ftp://example.com"},
    {"WWW.Example.com:8080/Path?Q=1#F", "www.example.com:8080/path?q=1#f"},
    {"B\xc3\x9c" "CHER.de", "b\xc3\x9c" "cher.de"},
};

TEST(NormaliseUrl, LowerCasesAndDropsOneHttpsThenOneHttpPrefix)
{
    for (const auto& [url, expected] : normalise_cases)
        EXPECT_EQ(normalise_url(url), expected) << url;
}

// --- Rule lines ---

auto fields(const rule_match& rule)
{
    return std::tie(rule.url_expr, rule.dest, rule.browser, rule.browser_profile);
}

const std::pair<const char*, rule_match> rule_cases[] = {
    {"example.com", {"example.com", "local", nullopt, nullopt}},
    {"example.com|remote|chrome|work", {"example.com", "remote", "chrome", "work"}},
    {"example.com||firefox", {"example.com", "", "firefox", nullopt}},
    {"example.com | remote", {"example.com ", " remote", nullopt, nullopt}},
    {"example.com|remote||", {"example.com", "remote", "", ""}},
    {"example.com|remote|b|p|extra|more", {"example.com", "remote", "b", "p"}},
    {"|remote", {"", "remote", nullopt, nullopt}},
};

TEST(ParseRuleLine, FillsTheFourFieldsAndDefaultsOnlyAnAbsentDestToLocal)
{
    for (const auto& [line, expected] : rule_cases)
        EXPECT_EQ(fields(parse_rule_line(line)), fields(expected)) << line;
}

// --- Reading a rule file ---

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

const std::string long_piece = "example.com/" + std::string(4094 - 12, 'x');

// Name, file contents, normalised URL, dest of the matching rule (none: no match).
const std::tuple<const char*, std::string, std::string, opt> scan_cases[] = {
    {"empty file", "", "example.com", nullopt},
    // "#*" would match the URL if it were read as a rule.
    {"comments, also after leading blanks", "#*|remote\n\n   \n  \t#*|remote\n", "#x", nullopt},
    {"hash inside a rule is ordinary", "example.com/#x|remote\n", "example.com/#x", "remote"},
    {"blanks around a separator stay in the pattern", "example.com | remote\n", "example.com", nullopt},
    {"blanks at both ends trimmed", "  \texample.com|remote \t\n", "example.com", "remote"},
    {"earlier of two matching lines", "example.com|remote\nexample.com|local\n", "example.com", "remote"},
    {"CR LF file", "a.test|local\r\nexample.com|remote\r\n", "example.com", "remote"},
    {"no final line end", "a.test\nexample.com|remote", "example.com", "remote"},
    {"both schemes of the rule dropped", "https://http://example.com|remote\n", "example.com", "remote"},
    {"one trailing slash of the rule dropped", "*.example.com/|remote\n", "www.example.com", "remote"},
    {"only one trailing slash dropped", "*.example.com//|remote\n", "www.example.com", nullopt},
    {"retry without /* covers the bare host", "*.example.com/*|remote\n", "example.com", "remote"},
    // A line longer than one piece is read as two rules: its first 4094 bytes
    // (a pattern without destination) and the rest ("|remote", an empty pattern).
    {"first piece of a long line is a rule", long_piece + "|remote\n", long_piece, "local"},
    {"rest of a long line is a rule", long_piece + "|remote\n", "/", "remote"},
};

TEST(ScanRuleFile, ReturnsTheFirstMatchingRuleOfTheFile)
{
    for (const auto& [name, contents, url, dest] : scan_cases) {
        std::optional<rule_match> rule = scan(contents, url);
        EXPECT_EQ(rule ? opt(rule->dest) : nullopt, dest) << name;
    }
}

// strict_host_match=1: every row of README's pattern table still holds, and
// no path, query, fragment, backslash or escape lends a link another host.
const std::tuple<const char*, const char*, bool> strict_cases[] = {
    {"example.com", "https://example.com", true},        {"example.com", "http://example.com/", true},
    {"example.com", "example.com/page", false},           {"example.com", "www.example.com", false},
    {"example.com/*", "example.com", true},               {"example.com/*", "example.com/page?x=1", true},
    {"example.com/*", "example.com:81/page", false},      {"*.example.com", "www.example.com", true},
    {"*.example.com", "a.b.example.com", true},           {"*.example.com", "example.com", true},
    {"*.example.com", "www.example.com/page", false},     {"*.example.com/*", "www.example.com/page", true},
    {"*.example.com/*", "example.com/page", true},        {"*.example.com/*", "example.com", true},
    {"*.example.com/*", "example.org", false},            {"intranet.*", "intranet.test", true},
    {"intranet.*", "intranet.test/app", true},            {"intranet.*", "www.intranet.test", false},
    {"*", "any.test:81/path?q=1#f", true},                {"example.com:*/*", "example.com:81/x", true},
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

// --- Log records ---

// The records an action writes to standard error, as "LEVEL unit: message".
template <typename Action>
std::vector<std::string> records_of(Action action)
{
    testing::internal::CaptureStderr();
    action();
    static const std::regex record(R"(^\d\d:\d\d:\d\d (\S+) +(\S+):\d+: (.*?)\r?$)");
    std::vector<std::string> records;
    std::istringstream lines(testing::internal::GetCapturedStderr());
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, m, record))
            records.push_back(m[1].str() + " " + m[2].str() + ": " + m[3].str());
    }
    return records;
}

TEST(ScanRuleFile, LogsTheFieldsAndThePatternOfEachRuleLine)
{
    auto records = records_of([] { scan("# comment\nHTTPS://Example.com/|Remote|Chrome\n", "no.match"); });
    const std::vector<std::string> expected = {
        "TRACE nb_utils: get_field: read field 0: <https://example.com/>",
        "TRACE nb_utils: get_field: read field 1: <remote>",
        "TRACE nb_utils: get_field: read field 2: <chrome>",
        "WARN nb_utils: get_field: couldn't reach field 3 in https://example.com/|remote|chrome (this isn't "
        "necessarily bad). Not enough fields separated by '|'?",
        "TRACE kvix_environment:  --> url_expr: <https://example.com/>",
        "TRACE kvix_environment:  --> dest: <remote>",
        "TRACE kvix_environment:  --> browser: <chrome>",
        "TRACE kvix_environment:  --> browser_profile: <(null)>",
        "TRACE kvix_environment: Read line from whitelist: example.com",
        "TRACE kvix_environment: final chars: om",
    };
    EXPECT_EQ(records, expected);
}

TEST(ScanRuleFile, LogsNoFinalCharsForPatternsShorterThanThree)
{
    auto records = records_of([] { scan("ab/\n", "x"); });
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back(), "TRACE kvix_environment: Read line from whitelist: ab");
}

TEST(IsInUrlWhitelist, GivesNoMatchForAnAbsentOrMissingFile)
{
    EXPECT_FALSE(is_in_url_whitelist("example.com", nullopt).has_value());
    std::string missing = (std::filesystem::temp_directory_path() / "ostrilo_no_such_rules.txt").string();
    EXPECT_FALSE(is_in_url_whitelist("example.com", missing).has_value());
}

}  // namespace
