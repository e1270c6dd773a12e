// The rule line format, the pattern language and the reading of rule files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "url_rules.h"

namespace {

using std::nullopt;
using opt = std::optional<std::string>;

// --- The pattern language ---

struct match_case {
    const char* pattern;
    const char* url;
    bool expected;
};

const match_case match_cases[] = {
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
    {"*.example.*", "www.example.org/x", true},
    {"*.example.*", "example", false},
    {"intranet.*", "intranet.test", true},
    {"intranet.*", "intranet.test/app", true},
    // The first occurrence is taken, with no backtracking.
    {"*example.com", "notexample.com.example.com", false},
    {"*ab", "abab", false},
    {"*ab*x", "abab-x", true},
    {"a*b*c", "a-b-b-c", true},
    // Stars.
    {"*", "", true},
    {"*", "any.test/path?q=1#f", true},
    {"a**c", "abc", true},
    {"***", "x/y", true},
    {"a*", "a", true},
    {"a*b", "a", false},
    {"a*b", "ab", true},
    {"a*b", "axxb", true},
    {"a*b", "axxbc", false},
    // Pattern longer than the URL, empty pattern, empty URL.
    {"example.com/page", "example.com", false},
    {"example.com//**/", "example.com", true},
    {"example.com/*x", "example.com", false},
    {"", "", true},
    {"", "/", true},
    {"", "a", false},
    {"a", "", false},
    {"/*/", "", true},
    // Bytes are compared as they are; non-ASCII bytes are ordinary characters.
    {"b\xc3\xbc" "cher.de", "b\xc3\xbc" "cher.de", true},
    {"b*r.de", "b\xc3\xbc" "cher.de", true},
    {"\xc3\xbc", "\xc3\x9c", false},
    // "#" and "?" are ordinary characters.
    {"example.com/#x", "example.com/#x", true},
    {"example.com/?", "example.com/x", false},
};

TEST(MatchUrlExpr, FollowsThePatternLanguage)
{
    for (const match_case& c : match_cases)
        EXPECT_EQ(match_url_expr(c.pattern, c.url), c.expected) << "pattern '" << c.pattern << "', url '" << c.url << "'";
}

// --- URL normalisation ---

struct normalise_case {
    const char* url;
    const char* expected;
};

const normalise_case normalise_cases[] = {
    {"HTTPS://Example.com/", "example.com/"},
    {"http://example.com", "example.com"},
    {"https://http://example.com", "example.com"},
    {"http://https://example.com", "https://example.com"},
    {"https://https://example.com", "https://example.com"},
    {"ftp://example.com", "ftp://example.com"},
    {"WWW.Example.com:8080/Path?Q=1#F", "www.example.com:8080/path?q=1#f"},
    {"B\xc3\x9c" "CHER.de", "b\xc3\x9c" "cher.de"},
    {"", ""},
};

TEST(NormaliseUrl, LowerCasesAndDropsOneHttpsThenOneHttpPrefix)
{
    for (const normalise_case& c : normalise_cases)
        EXPECT_EQ(normalise_url(c.url), c.expected) << c.url;
}

// --- Fields ---

struct field_case {
    const char* text;
    char separator;
    unsigned n;
    opt expected;
};

const field_case field_cases[] = {
    {"a|b|c", '|', 0, "a"},
    {"a|b|c", '|', 1, "b"},
    {"a|b|c", '|', 2, "c"},
    {"a|b|c", '|', 3, nullopt},
    {"a||b", '|', 1, ""},
    {"a|", '|', 1, ""},
    {"a|", '|', 2, nullopt},
    {"|", '|', 0, ""},
    {"", '|', 0, ""},
    {"", '|', 1, nullopt},
    {" a | b ", '|', 1, " b "},
    {"a|b", 0, 1, "b"},
    {"a,b|c", ',', 1, "b|c"},
    {"a|b|c|d|e", '|', 4, "e"},
};

TEST(GetField, SplitsAtTheSeparatorWithoutTrimming)
{
    for (const field_case& c : field_cases)
        EXPECT_EQ(get_field(c.text, c.separator, c.n), c.expected) << "'" << c.text << "' field " << c.n;
}

// --- Rule lines ---

struct rule_case {
    const char* line;
    const char* url_expr;
    const char* dest;
    opt browser;
    opt browser_profile;
};

const rule_case rule_cases[] = {
    {"example.com", "example.com", "local", nullopt, nullopt},
    {"example.com|remote|chrome|work", "example.com", "remote", "chrome", "work"},
    {"example.com||firefox", "example.com", "", "firefox", nullopt},
    {"example.com | remote", "example.com ", " remote", nullopt, nullopt},
    {"example.com|local|", "example.com", "local", "", nullopt},
    {"example.com|remote||", "example.com", "remote", "", ""},
    {"example.com|remote|b|p|extra|more", "example.com", "remote", "b", "p"},
    {"|remote", "", "remote", nullopt, nullopt},
};

void expect_rule(const std::optional<rule_match>& rule, const char* url_expr, const char* dest, const opt& browser,
                 const opt& browser_profile, const std::string& context)
{
    ASSERT_TRUE(rule.has_value()) << context;
    EXPECT_EQ(rule->url_expr, url_expr) << context;
    EXPECT_EQ(rule->dest, dest) << context;
    EXPECT_EQ(rule->browser, browser) << context;
    EXPECT_EQ(rule->browser_profile, browser_profile) << context;
}

TEST(ParseRuleLine, FillsTheFourFieldsAndDefaultsOnlyAnAbsentDestToLocal)
{
    for (const rule_case& c : rule_cases)
        expect_rule(parse_rule_line(c.line), c.url_expr, c.dest, c.browser, c.browser_profile, c.line);
}

// --- Reading a rule file ---

// Writes the bytes as they are and opens them again in text mode, as the
// program opens rule files.
class rule_file {
public:
    explicit rule_file(const std::string& bytes)
    {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("ostrilo_rules_test_" + std::to_string(++counter) + ".txt");
        FILE* out = std::fopen(path_.string().c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    ~rule_file() { std::filesystem::remove(path_); }
    std::string path() const { return path_.string(); }
    std::optional<rule_match> scan(const std::string& url) const
    {
        FILE* in = std::fopen(path_.string().c_str(), "r");
        std::optional<rule_match> rule = scan_rule_file(url, in);
        std::fclose(in);
        return rule;
    }

private:
    std::filesystem::path path_;
};

struct scan_case {
    const char* name;
    std::string contents;
    std::string url;  // already normalised
    bool matches;
    const char* dest = "";
    opt browser = nullopt;
    opt browser_profile = nullopt;
};

const std::string long_piece = "example.com/" + std::string(4094 - 12, 'x');

const scan_case scan_cases[] = {
    {"empty file", "", "example.com", false},
    {"only comments and blank lines", "# a\n\n   \n#example.com\n", "example.com", false},
    {"comment after leading blanks", "   # example.com\n", "example.com", false},
    {"comment after a tab", "\t#example.com\n", "example.com", false},
    {"hash inside a rule is ordinary", "example.com/#x|remote\n", "example.com/#x", true, "remote"},
    {"pattern only", "example.com\n", "example.com", true, "local"},
    {"whole line lower-cased", "Example.COM|REMOTE|Chrome|Work\n", "example.com", true, "remote", "chrome", "work"},
    {"blanks around separator stay", "example.com | remote\n", "example.com", false},
    {"blank belongs to the pattern", "example.com | remote\n", "example.com ", true, " remote"},
    {"empty dest stays empty", "example.com||firefox\n", "example.com", true, "", "firefox"},
    {"leading and trailing blanks trimmed", "  \texample.com|remote \t\n", "example.com", true, "remote"},
    {"earlier of two matching lines", "example.com|remote\nexample.com|local\n", "example.com", true, "remote"},
    {"non-matching lines skipped", "other.test|remote\n*.example.com|local|ie\n", "www.example.com", true, "local",
     "ie"},
    {"CR LF file", "a.test|remote\r\nexample.com|remote|chrome\r\n", "example.com", true, "remote", "chrome"},
    {"CR inside a line ends it", "example.com|remote\rjunk\n", "example.com", true, "remote"},
    {"no final line end", "a.test\nexample.com|remote", "example.com", true, "remote"},
    {"scheme of the rule dropped", "https://example.com|remote\n", "example.com", true, "remote"},
    {"http scheme of the rule dropped", "http://example.com|remote\n", "example.com", true, "remote"},
    {"one trailing slash of the rule dropped", "example.com/|remote\n", "example.com", true, "remote"},
    {"retry without /* covers the bare host", "*.example.com/*|remote\n", "example.com", true, "remote"},
    {"retry only after a failed match", "*.example.com/*|remote\n", "www.example.com/a", true, "remote"},
    {"retry does not widen a plain host", "example.com/a/*|remote\n", "example.com", false},
    // A line longer than one piece is read as two rules: its first 4094 bytes
    // (a pattern without destination) and the rest ("|remote", an empty pattern).
    {"first piece of a long line is a rule", long_piece + "|remote\n", long_piece, true, "local"},
    {"rest of a long line is a rule", long_piece + "|remote\n", "/", true, "remote"},
};

TEST(ScanRuleFile, ReturnsTheFirstMatchingRuleOfTheFile)
{
    for (const scan_case& c : scan_cases) {
        std::optional<rule_match> rule = rule_file(c.contents).scan(c.url);
        if (!c.matches) {
            EXPECT_FALSE(rule.has_value()) << c.name;
            continue;
        }
        ASSERT_TRUE(rule.has_value()) << c.name;
        EXPECT_EQ(rule->dest, c.dest) << c.name;
        EXPECT_EQ(rule->browser, c.browser) << c.name;
        EXPECT_EQ(rule->browser_profile, c.browser_profile) << c.name;
    }
}

// --- Log records ---

struct log_record {
    std::string level;
    std::string unit;
    std::string message;
    bool operator==(const log_record&) const = default;
};

std::ostream& operator<<(std::ostream& out, const log_record& r)
{
    return out << r.level << " " << r.unit << ": " << r.message;
}

// The records of standard error, without time and line number.
std::vector<log_record> parse_records(const std::string& text)
{
    static const std::regex record(R"(^\d\d:\d\d:\d\d (\S+) +(\S+):\d+: (.*?)\r?$)");
    std::vector<log_record> records;
    std::istringstream lines(text);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, m, record))
            records.push_back({m[1], m[2], m[3]});
    }
    return records;
}

template <typename Action>
std::vector<log_record> records_of(Action action)
{
    testing::internal::CaptureStderr();
    action();
    return parse_records(testing::internal::GetCapturedStderr());
}

TEST(GetField, LogsTheFieldItRead)
{
    auto records = records_of([] { get_field("a|b", '|', 1); });
    EXPECT_EQ(records, (std::vector<log_record>{{"TRACE", "nb_utils", "get_field: read field 1: <b>"}}));
}

TEST(GetField, WarnsAboutAMissingFieldWithTheTextAndSeparator)
{
    auto records = records_of([] { get_field("a", 0, 2); });
    EXPECT_EQ(records, (std::vector<log_record>{
                           {"WARN", "nb_utils",
                            "get_field: couldn't reach field 2 in a (this isn't necessarily bad). Not enough fields "
                            "separated by '|'?"}}));
}

TEST(ScanRuleFile, LogsEachRuleLineItReads)
{
    rule_file file("# comment\nHTTPS://Example.com/\nabc|remote||\n");
    auto records = records_of([&] { file.scan("no.match"); });
    const std::vector<log_record> expected = {
        {"TRACE", "nb_utils", "get_field: read field 0: <https://example.com/>"},
        {"WARN", "nb_utils",
         "get_field: couldn't reach field 1 in https://example.com/ (this isn't necessarily bad). Not enough fields "
         "separated by '|'?"},
        {"WARN", "nb_utils",
         "get_field: couldn't reach field 2 in https://example.com/ (this isn't necessarily bad). Not enough fields "
         "separated by '|'?"},
        {"WARN", "nb_utils",
         "get_field: couldn't reach field 3 in https://example.com/ (this isn't necessarily bad). Not enough fields "
         "separated by '|'?"},
        {"TRACE", "kvix_environment", " --> url_expr: <https://example.com/>"},
        {"TRACE", "kvix_environment", " --> dest: <local>"},
        {"TRACE", "kvix_environment", " --> browser: <(null)>"},
        {"TRACE", "kvix_environment", " --> browser_profile: <(null)>"},
        {"TRACE", "kvix_environment", "Read line from whitelist: example.com"},
        {"TRACE", "kvix_environment", "final chars: om"},
        {"TRACE", "nb_utils", "get_field: read field 0: <abc>"},
        {"TRACE", "nb_utils", "get_field: read field 1: <remote>"},
        {"TRACE", "nb_utils", "get_field: read field 2: <>"},
        {"TRACE", "nb_utils", "get_field: read field 3: <>"},
        {"TRACE", "kvix_environment", " --> url_expr: <abc>"},
        {"TRACE", "kvix_environment", " --> dest: <remote>"},
        {"TRACE", "kvix_environment", " --> browser: <>"},
        {"TRACE", "kvix_environment", " --> browser_profile: <>"},
        {"TRACE", "kvix_environment", "Read line from whitelist: abc"},
        {"TRACE", "kvix_environment", "final chars: bc"},
    };
    EXPECT_EQ(records, expected);
}

TEST(ScanRuleFile, LogsNoFinalCharsForPatternsShorterThanThree)
{
    rule_file file("ab/\n");
    auto records = records_of([&] { file.scan("x"); });
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back(), (log_record{"TRACE", "kvix_environment", "Read line from whitelist: ab"}));
}

// --- One URL against one rule file ---

struct whitelist_case {
    const char* name;
    const char* rules;
    const char* url;  // as the entry passes it
    opt dest;
};

const whitelist_case whitelist_cases[] = {
    {"URL upper case and with scheme", "example.com|remote\n", "HTTPS://Example.com/", "remote"},
    {"both prefixes of the URL dropped", "example.com|remote\n", "https://http://example.com", "remote"},
    {"rule scheme differs from the URL's", "https://example.com|remote\n", "http://example.com", "remote"},
    {"other scheme kept", "example.com|remote\n", "ftp://example.com", nullopt},
    {"no rule matches", "other.test|remote\n", "https://example.com", nullopt},
};

TEST(IsInUrlWhitelist, NormalisesTheUrlAndReadsTheFile)
{
    for (const whitelist_case& c : whitelist_cases) {
        rule_file file(c.rules);
        std::optional<rule_match> rule = is_in_url_whitelist(c.url, file.path());
        EXPECT_EQ(rule ? opt(rule->dest) : nullopt, c.dest) << c.name;
    }
}

TEST(IsInUrlWhitelist, GivesNoMatchForAnAbsentOrMissingFile)
{
    EXPECT_FALSE(is_in_url_whitelist("example.com", nullopt).has_value());
    std::string missing = (std::filesystem::temp_directory_path() / "ostrilo_no_such_rules.txt").string();
    EXPECT_FALSE(is_in_url_whitelist("example.com", missing).has_value());
}

TEST(IsInUrlWhitelist, LogsTheUrlThePathAndTheComparedUrl)
{
    auto records = records_of([] { is_in_url_whitelist("HTTP://Example.com/A", nullopt); });
    EXPECT_EQ(records, (std::vector<log_record>{
                           {"DEBUG", "kvix_environment", "* Check URL 'HTTP://Example.com/A' in whitelist '(null)'"},
                           {"DEBUG", "kvix_environment", "URL to compare is now: example.com/a"}}));
}

}  // namespace
