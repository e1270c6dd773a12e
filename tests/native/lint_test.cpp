// The rule-file linter: which findings a set of rule files gives, where, and
// how severe. Each expected finding is "file:line:col severity code", then
// text the finding's message must hold.
#include <gtest/gtest.h>

#include "lint.h"

namespace {

using namespace std::string_literals;

struct lint_case {
    const char* name;
    std::vector<rule_file_text> files;
    std::vector<std::string> expected;
    int status;
};

const std::string long_line = std::string(4094, 'q') + "|remote\n";

const lint_case lint_cases[] = {
    {"readme_example_is_clean",
     {{"r.txt",
       "# Internal sites open locally; the wiki in Firefox, its admin pages remotely.\n"
       "wiki.intranet.test/admin/*|remote\nwiki.intranet.test/*|local|firefox\n"
       "intranet.test/*|local\nwww.intranet.test/*|local\n"
       "*.bank.example/*|remote|chrome|secure\n*|remote\n"}},
     {},
     0},
    {"fields",
     {{"f.txt",
       "a.example | remote\nb.example||firefox\nc.example|nowhere\nd.example|local|opera\n"
       "e.example|local|firefox|work\nf.example|remote|chrome|p|more\ng.example|remote| chrome\n"}},
     {"f.txt:1:10 error blank-around-bar 'a.example|remote'", "f.txt:2:11 error bad-destination empty",
      "f.txt:3:11 error bad-destination 'nowhere'", "f.txt:4:17 warning unknown-browser 'opera'",
      "f.txt:5:25 warning ignored-field 'work'", "f.txt:6:27 warning ignored-field '|more'",
      "f.txt:7:18 warning blank-around-bar"},
     2},
    {"spoofable_local_hosts",
     {{"s.txt", "*.intranet.test/*|local\nintranet.*\n*.shop.example/*|remote\n*|local\n"}},
     {"s.txt:1:1 warning spoofable-host https://evil.example/x.intranet.test/ opens locally too; name the hosts "
      "without '*', or set strict_host_match=1",
      "s.txt:2:1 warning spoofable-host https://intranet.evil.example opens"},
     1},
    {"shadowed_rules",
     {{"a.txt",
       "example.com/*|remote\nexample.com/admin/*|local\n*.shop.example/*|remote\n"
       "www.shop.example/cart|remote\nhttps://example.com/*|remote\nexample.com|local\n"},
      {"b.txt", "*|remote\n"},
      {"c.txt", "x.example|local\n"}},
     {"a.txt:2:1 error shadowed line 1 ('example.com/*|remote')", "a.txt:4:1 warning shadowed remove this line",
      "a.txt:5:1 warning shadowed line 1", "c.txt:1:1 error shadowed b.txt:1 ('*|remote')"},
     2},
    {"bytes_the_reader_does_not_take",
     {{"b.txt",
       "\xEF\xBB\xBF"
       "a.example|local\nb.example|remote\rc.example|local\nd.example\0|remote\n"s +
           long_line},
      {"u.txt", std::string("\xFF\xFE"
                            "a\0.\0e\0x\0",
                            10)}},
     {"b.txt:1:1 error utf8-bom", "b.txt:2:17 error cr-line-end 'c.example|local'", "b.txt:3:10 error nul-byte",
      "b.txt:4:4095 error long-line '|remote'", "u.txt:1:1 error utf16"},
     2},
    {"second_name_in_a_folder",
     {{"C:\\R\\url whitelist.txt", "a.example|remote\n"}, {"C:\\r\\URL_whitelist.txt", "b.example|local\n"}},
     {"C:\\r\\URL_whitelist.txt:1:1 error unread-file 'C:\\R\\url whitelist.txt'"},
     2},
};

void PrintTo(const lint_case& c, std::ostream* os)
{
    *os << c.name;
}

class lint : public testing::TestWithParam<lint_case> {};

TEST_P(lint, gives_the_expected_findings)
{
    const lint_case& c = GetParam();
    std::vector<lint_finding> findings = lint_rule_files(c.files);
    ASSERT_EQ(findings.size(), c.expected.size());
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const lint_finding& f = findings[i];
        std::string where = f.file + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) + " " +
                            (f.error ? "error " : "warning ") + f.code;
        EXPECT_EQ(c.expected[i].substr(0, where.size()), where) << f.text;
        EXPECT_NE(f.text.find(c.expected[i].substr(std::min(where.size() + 1, c.expected[i].size()))),
                  std::string::npos)
            << f.text;
    }
    EXPECT_EQ(lint_exit_status(findings), c.status);
}

INSTANTIATE_TEST_SUITE_P(rule_files, lint, testing::ValuesIn(lint_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(lint_format, reads_like_a_compiler_message)
{
    EXPECT_EQ(format_finding({"u.txt", 3, 7, true, "text", "code"}), "u.txt:3:7: error: text [code]");
    EXPECT_EQ(format_finding({"u.txt", 1, 1, false, "text", "code"}), "u.txt:1:1: warning: text [code]");
}

}  // namespace
