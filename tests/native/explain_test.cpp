// The decision ostrilo-admin explains: which file and line matched, the rule
// as written, and the bytes that would reach the viewer.
#include "explain.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace std::string_literals;

namespace {

// "<files read> <file>:<line> <rule> <action>", then the pipe bytes for the viewer.
std::string summary(const explanation& e)
{
    const rule_decision& d = e.decision;
    const bool viewer = e.plan.kind == route_kind::viewer || e.plan.kind == route_kind::remote;
    return std::to_string(d.consulted.size()) + " " +
           (d.hit ? *d.file + ":" + std::to_string(d.hit->line) + " " + d.hit->text : "-") + " " +
           explanation_json(e)["action"].get<std::string>() + (viewer ? " " + pipe_bytes(e.plan) : "");
}

TEST(Explain, NamesTheMatchingFileLineAndRuleAndTheBytesThatFollow)
{
    // A line over 4094 bytes is two rules on one line; the line after it keeps its number.
    const std::string long_line = "Long.example/" + std::string(4094 - 13, 'x') + "also.test|remote\n";
    // Rule files r0, r1, ... consulted in this order; the link; the summary.
    // clang-format off
    const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
        {{"# c\n\n  *.Example.COM/*|LOCAL|Firefox \n"}, "https://www.example.com/",
         "1 r0:3 *.Example.COM/*|LOCAL|Firefox local"},
        {{long_line}, "also.test", "1 r0:1 also.test|remote remote ||also.test\0"s},
        {{long_line + "other.test|remote|ie|p\n"}, "http://other.test",
         "1 r0:2 other.test|remote|ie|p remote p|ie|http://other.test\0"s},
        {{"a.test|remote\n", "b.test|local\n", "b.test|remote\n"}, "b.test", "2 r1:1 b.test|local local"},
        // A link that is not UTF-8 has its bytes widened.
        {{"c.test/*|remote\n"}, "https://c.test/\xe4", "1 r0:1 c.test/*|remote remote ||https://c.test/%c3%a4\0"s},
    };
    // clang-format on
    for (const auto& [files, url, expected] : cases) {
        std::vector<std::string> paths;
        for (const std::string& content : files) {
            paths.push_back("r" + std::to_string(paths.size()));
            std::ofstream(paths.back(), std::ios::binary) << content;
        }
        EXPECT_EQ(summary(explain_files(url, paths, {})), expected);
    }
}

TEST(Explain, ShowsEachLayerOfAWrappedLinkAndThatTheLookupUsedTheInnerOne)
{
    std::ofstream("rules", std::ios::binary) << "intranet.example/*|local|firefox\n";
    const std::string link =
        "https://eu1.ctp.trendmicro.com/wis/clicktime/v1/query?url=https%3a%2f%2fna01.safelinks."
        "protection.outlook.com%2f%3furl%3dhttps%253A%252F%252Fintranet.example%252Fw&umid=1";
    EXPECT_EQ(explanation_text(explain_files(link, {"rules"}, {false, false, 1})),
              link +
                  "\n  layer 1  Trend Micro: \"https://na01.safelinks.protection.outlook.com/?url=https%3A%2F%2F"
                  "intranet.example%2Fw\"\n  layer 2  Safe Links: \"https://intranet.example/w\"\n  lookup   the "
                  "inner link; the wrapped link is opened (unwrap_links=1)\n  found    --rules: rules\n  matched  "
                  "rules:1: intranet.example/*|local|firefox\n  action   local browser (mode 2): Opening URL "
                  "locally using Firefox\n");
}

}  // namespace
