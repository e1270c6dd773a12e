// The decision ostrilo-admin explains: which file and line matched, the rule
// as written, and the bytes that would reach the viewer.
#include "explain.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace std::string_literals;

struct explain_case {
    const char* what;
    std::vector<std::string> files;  // rule file contents, consulted in this order
    std::string url;
    int file;  // index of the matching file, -1: no match
    int line;
    std::string rule;
    route_kind kind;
    std::string pipe;  // pipe bytes for the viewer and remote kinds
    explain_keys keys{};
    int line_without_strict = 0;               // the line matched without strict_host_match=1, 0: the same
    std::optional<std::string> argument = {};  // with safe_browser_arguments=1; none: refused
};

const std::string long_line = "Long.example/" + std::string(4094 - 13, 'x') + "also.test|remote\n";

const explain_case cases[] = {
    {"comments and blank lines count, the rule keeps its case",
     {"# c\n\n  *.Example.COM/*|LOCAL|Firefox \n"},
     "https://www.example.com/",
     0,
     3,
     "*.Example.COM/*|LOCAL|Firefox",
     route_kind::local,
     ""},
    {"a line over 4094 bytes is two rules on one line",
     {long_line},
     "also.test",
     0,
     1,
     "also.test|remote",
     route_kind::remote,
     "||also.test\0"s},
    {"the line after a long one keeps its number",
     {long_line + "other.test|remote|ie|p\n"},
     "http://other.test",
     0,
     2,
     "other.test|remote|ie|p",
     route_kind::remote,
     "p|ie|http://other.test\0"s},
    {"the first file with a match wins",
     {"a.test|remote\n", "b.test|local\n", "b.test|remote\n"},
     "b.test",
     1,
     1,
     "b.test|local",
     route_kind::local,
     ""},
    {"no match hands the link itself, encoded",
     {"a.test\n"},
     "https://c.test/a b?\xc3\xa4",
     -1,
     0,
     "",
     route_kind::viewer,
     "https://c.test/a+b?%c3%a4\0"s},
    {"remote text is handed on as UTF-8",
     {"c.test/*|remote\n"},
     "https://c.test/\xc3\xa4",
     0,
     1,
     "c.test/*|remote",
     route_kind::remote,
     "||https://c.test/%c3%a4\0"s},
    {"remote text that is not UTF-8 has its bytes widened",
     {"c.test/*|remote\n"},
     "https://c.test/\xe4",
     0,
     1,
     "c.test/*|remote",
     route_kind::remote,
     "||https://c.test/%c3%a4\0"s},
    {"a destination of neither kind",
     {"c.test|elsewhere\n"},
     "c.test",
     0,
     1,
     "c.test|elsewhere",
     route_kind::bad_destination,
     ""},
    {"strict host: a path naming the host goes on to the next rule",
     {"*.in.test/*|local\n*|remote\n"},
     "https://evil.test/x.in.test/",
     0,
     2,
     "*|remote",
     route_kind::remote,
     "||https://evil.test/x.in.test/\0"s,
     {true, false},
     1},
    {"safe arguments: blanks and quotes encoded",
     {"*|local\n"},
     "https://a.test/?q=1 --x=\"c\"",
     0,
     1,
     "*|local",
     route_kind::local,
     "",
     {false, true},
     0,
     "https://a.test/?q=1%20--x=%22c%22"},
    {"safe arguments: a switch is refused",
     {"*|local\n"},
     "--x",
     0,
     1,
     "*|local",
     route_kind::local,
     "",
     {false, true}},
};

TEST(Explain, NamesTheMatchingFileLineAndRuleAndTheBytesThatFollow)
{
    for (const explain_case& c : cases) {
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < c.files.size(); ++i) {
            paths.push_back(
                (std::filesystem::temp_directory_path() / ("ostrilo_explain_" + std::to_string(i))).string());
            std::ofstream(paths.back(), std::ios::binary) << c.files[i];
        }
        const explanation e = explain_files(c.url, paths, c.keys);
        EXPECT_EQ(e.decision.consulted.size(), c.file < 0 ? paths.size() : c.file + 1u) << c.what;
        EXPECT_EQ(e.decision.file, c.file < 0 ? std::nullopt : std::optional(paths[c.file])) << c.what;
        EXPECT_EQ(e.decision.hit ? e.decision.hit->line : 0, c.line) << c.what;
        EXPECT_EQ(e.decision.hit ? e.decision.hit->text : "", c.rule) << c.what;
        EXPECT_EQ(e.plan.kind, c.kind) << c.what;
        const auto& without = e.without_strict_host;
        EXPECT_EQ(without && without->hit ? without->hit->line : 0, c.line_without_strict) << c.what;
        EXPECT_EQ(e.local.safe_argument, c.argument) << c.what;
        EXPECT_EQ(e.local.refused, c.keys.safe_arguments && !c.argument) << c.what;
        if (!c.pipe.empty()) {
            EXPECT_EQ(pipe_bytes(e.plan), c.pipe) << c.what;
        }
        for (const std::string& path : paths)
            std::filesystem::remove(path);
    }
}

}  // namespace
