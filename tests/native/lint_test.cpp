// The rule-file linter: which findings a set of rule files gives, where, and how severe.
#include "lint.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace std::string_literals;

namespace {

TEST(Lint, GivesTheFindingsOfTheRuleFilesInOrder)
{
    const std::string long_line = std::string(4094, 'q') + "|remote\n";
    // The files, the findings as "file:line:col severity code text" (the text: a part of the message), the status.
    // clang-format off
    const std::tuple<std::vector<rule_file_text>, std::string, int> cases[] = {
        {{{"r.txt", "# README's example\nwiki.intranet.test/admin/*|remote\nwiki.intranet.test/*|local|firefox\n"
                    "intranet.test/*|local\n*.bank.example/*|remote|chrome|secure\n*|remote\n"}}, "", 0},
        {{{"f.txt", "a.example | remote\nb.example||firefox\nc.example|nowhere\nd.example|local|opera\n"
                    "e.example|local|firefox|work\nf.example|remote|chrome|p|more\ng.example|remote| chrome\n"}},
         "f.txt:1:10 error blank-around-bar 'a.example|remote'\nf.txt:2:11 error bad-destination empty\n"
         "f.txt:3:11 error bad-destination 'nowhere'\nf.txt:4:17 warning unknown-browser 'opera'\n"
         "f.txt:5:25 warning ignored-field 'work'\nf.txt:6:27 warning ignored-field '|more'\n"
         "f.txt:7:18 warning blank-around-bar\n", 2},
        {{{"s.txt", "*.intranet.test/*|local\nintranet.*\n*.shop.example/*|remote\n*|local\n"}},
         "s.txt:1:1 warning spoofable-host https://evil.example/x.intranet.test/ opens locally too; name the hosts "
         "without '*', or set strict_host_match=1\n"
         "s.txt:2:1 warning spoofable-host https://intranet.evil.example opens\n", 1},
        {{{"a.txt", "example.com/*|remote\nexample.com/admin/*|local\n*.shop.example/*|remote\n"
                    "www.shop.example/cart|remote\nhttps://example.com/*|remote\nexample.com|local\n"},
          {"b.txt", "*|remote\n"}, {"c.txt", "x.example|local\n"}},
         "a.txt:2:1 error shadowed line 1 ('example.com/*|remote')\na.txt:4:1 warning shadowed remove this line\n"
         "a.txt:5:1 warning shadowed line 1\nc.txt:1:1 error shadowed b.txt:1 ('*|remote')\n", 2},
        {{{"b.txt", "\xEF\xBB\xBF" "a.example|local\nb.example|remote\rc.example|local\nd.example\0|remote\n"s +
                    long_line},
          {"u.txt", "\xFF\xFE" "a\0.\0e\0x\0"s}},
         "b.txt:1:1 error utf8-bom\nb.txt:2:17 error cr-line-end 'c.example|local'\nb.txt:3:10 error nul-byte\n"
         "b.txt:4:4095 error long-line '|remote'\nu.txt:1:1 error utf16\n", 2},
        {{{"C:\\R\\url whitelist.txt", "a.example|remote\n"}, {"C:\\r\\URL_whitelist.txt", "b.example|local\n"}},
         "C:\\r\\URL_whitelist.txt:1:1 error unread-file 'C:\\R\\url whitelist.txt'\n", 2},
    };
    // clang-format on
    for (const auto& [files, expected, status] : cases) {
        const std::vector<lint_finding> findings = lint_rule_files(files);
        std::string shown;  // each finding's place, severity and code, then the part of its text the row names
        for (std::size_t i = 0, at = 0; i < findings.size(); ++i, at = expected.find('\n', at) + 1) {
            const lint_finding& f = findings[i];
            std::string line = f.file + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) +
                               (f.error ? " error " : " warning ") + f.code;
            const std::string part = expected.substr(at, expected.find('\n', at) - at).substr(line.size());
            shown += line +
                     (f.text.find(part.substr(part.empty() ? 0 : 1)) == std::string::npos ? " " + f.text : part) + "\n";
        }
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(lint_exit_status(findings), status) << expected;
    }
    EXPECT_EQ(format_finding({"u.txt", 3, 7, true, "text", "code"}), "u.txt:3:7: error: text [code]");
    EXPECT_EQ(format_finding({"u.txt", 1, 1, false, "text", "code"}), "u.txt:1:1: warning: text [code]");
}

// ostrilo.cfg: the reader keeps a byte order mark as part of the first key, which so never matches.
TEST(Lint, NamesTheKeyOfOstriloCfgThatAByteOrderMarkHides)
{
    const std::pair<std::string, std::string> cases[] = {
        {"\xEF\xBB\xBF  Product_Name = Acme \n", "Product_Name"},
        {"\xEF\xBB\xBF# settings\r\nwhitelist_path=C:\\r.txt\r\n", ""},  // the mark stands before no key
        {"\xEF\xBB\xBFkey=\n", ""},                                      // an empty value: no key
        {"whitelist_path=C:\\r.txt\r\n", ""},
    };
    for (const auto& [content, key] : cases) {
        EXPECT_EQ(key_behind_bom(content).value_or(""), key) << content;
        const std::vector<lint_finding> findings = lint_config_file({"ostrilo.cfg", content});
        const std::string said =
            "ostrilo.cfg:1:1: error: a UTF-8 byte order mark stands before the first key '" + key + "'";
        EXPECT_EQ(findings.empty() ? "" : format_finding(findings[0]).substr(0, said.size()), key.empty() ? "" : said);
    }
}

// The examples that the packages ship give no finding (strict_host_match off); the rule file ends with "*|remote".
TEST(Lint, TheShippedExamplesGiveNoFinding)
{
    std::ifstream rules(OSTRILO_SOURCE_DIR "/packaging/url whitelist.txt.example", std::ios::binary),
        cfg(OSTRILO_SOURCE_DIR "/packaging/ostrilo.cfg.example", std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(rules), {});
    EXPECT_TRUE(lint_rule_files({{"r.txt", text}}).empty() && text.ends_with("\n*|remote\n"));
    EXPECT_TRUE(lint_config_file({"ostrilo.cfg", std::string(std::istreambuf_iterator<char>(cfg), {})}).empty());
}

}  // namespace
