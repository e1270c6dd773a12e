// whitelist_url as Ostrilo reads it, the redirects it follows, and a served list as the cache keeps it.
#include <gtest/gtest.h>

#include <algorithm>

#include "central_list.h"
#include "url_rules.h"

using namespace std::string_literals;

namespace {

TEST(CentralList, ReadsOnlyTheURLsItCanFetchSafely)
{
    const std::string no_http = "http:// only to a loopback address", no_file = "a file: URL names a share";
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {  // value, the file's path or "https"/"http", or the refusal
        {"https://config.example/ostrilo/rules.txt", "https"}, {"HTTPS://[2001:db8::1]:8443/l", "https"},
        {"http://127.0.0.1:8080/rules.txt", "http"}, {"http://127.255.0.1/l", "http"}, {"http://[::1]/l", "http"},
        {"http://localhost/l", no_http}, {"http://127.0.0.1.evil.example/", no_http}, {"http://127.1/", no_http},
        {"http://0177.0.0.1/", no_http}, {"http://127.0.0.1:99999/", no_http}, {"http://example.com/", no_http},
        {"https://user@config.example/", "a user name or password in the URL is not taken"},
        {"https:///rules.txt", "it names no host"}, {"https://a.example/x y", "it holds a blank or a control character"},
        {"https://a.example/\r\n*|local", "it holds a blank or a control character"},
        {"ftp://a.example/l", "not an https:// URL"}, {"\\\\server\\share\\l.xml", "not an https:// URL"},
        {"file://server/share/sites%20list.xml", "\\\\server\\share\\sites list.xml"},
        {"file:////server/share/l.xml", "\\\\server\\share\\l.xml"}, {"FILE:///C:/Rules/l.txt", "C:\\Rules\\l.txt"},
        {"file://localhost/d|/l.txt", "d:\\l.txt"}, {"file:///etc/passwd", no_file}, {"file://server/share", no_file},
        {"file://server/share/", no_file}, {"file:C:/l.txt", no_file}, {"file:///C:/a%0A*|local", "the file: URL's path"},
    };
    // clang-format on
    for (const auto& [value, expected] : cases) {
        const central_url_reading reading = read_central_url(value);
        const std::string got = !reading.url                                   ? reading.refusal
                                : reading.url->scheme == central_scheme::file  ? reading.url->path
                                : reading.url->scheme == central_scheme::https ? "https"
                                                                               : "http";
        EXPECT_TRUE(got.starts_with(expected)) << value << ": " << got;
    }
}

TEST(CentralList, ResolvesRedirectsAsABrowserDoes)
{
    const std::string from = "https://a.example/lists/rules.txt?v=1";
    EXPECT_EQ(redirect_target(from, "https://cdn.example/r.txt"), "https://cdn.example/r.txt");
    EXPECT_EQ(redirect_target(from, "http://a.example/r.txt"), "http://a.example/r.txt");
    EXPECT_EQ(redirect_target(from, "//cdn.example/r.txt"), "https://cdn.example/r.txt");
    EXPECT_EQ(redirect_target(from, "/r.txt"), "https://a.example/r.txt");
    EXPECT_EQ(redirect_target(from, "new.txt"), "https://a.example/lists/new.txt");
    EXPECT_EQ(redirect_target("http://127.0.0.1:8/r", "x.txt"), "http://127.0.0.1:8/x.txt");
    EXPECT_EQ(redirect_target(from, "javascript:alert(1)"), std::nullopt);
}

TEST(CentralList, TakesAServedListOnlyWhenEachLineReadsAsWhatItSays)
{
    const std::string long_line(4094, 'a'), list =
                                                "<?xml version=\"1.0\"?>\n<!-- x -->\n<site-list version=\"1\">"
                                                "<site url=\"a.example/app\"><open-in>IE11</open-in></site>"
                                                "<site url=\"b.example\"/></site-list>";
    // clang-format off
    const std::tuple<std::string, std::string, std::size_t> cases[] = {  // bytes, format or refusal, rules
        {"\xEF\xBB\xBF# c\r\na.example/*|local|firefox\r\n\tb.example/*|remote\n", "rules", 2},
        {list, "site list", 4}, {"# nothing yet\r\n", "rules", 0},
        {"", "the list is empty", 0}, {long_line.substr(1) + "\n", "rules", 1},
        {"a.example/*|local\r\n" + long_line + "\n*|local|firefox\n", "line 2 is 4094 bytes or longer", 0},
        {"a.example/*|local\x1a*|local|firefox\n", "line 1 holds a control character", 0},
        {"a.example/*|lo\0cal\n"s, "line 1 holds a control character", 0},
        {"a.example/*|local\r*|local|firefox\n", "line 1 holds a control character", 0},
        {"<!DOCTYPE html>\n<html><body>*</body></html>", "the list is XML or HTML, but not a site list: its root element is 'html'", 0},
        {"<rules version=\"1\"><emie/></rules>", "the list is XML or HTML, but not a site list: its root element is 'rules' (a list of the version 1", 0},
    };
    // clang-format on
    for (const auto& [bytes, expected, rules] : cases) {
        const central_conversion list = convert_central_list(bytes);
        EXPECT_TRUE((list.ok ? list.format : list.error).starts_with(expected)) << list.error << "\n" << bytes;
        EXPECT_EQ(list.rules, rules) << bytes;
    }
    // A site list's rules as host matching reads them, each site's behind the note of its <site>.
    const std::string rules = convert_central_list(list).body;
    EXPECT_NE(
        rules.find("# from the <site> at byte 56 of the list\na.example/app*|local|ie\n*.a.example/app*|local|ie\n"
                   "# from the <site> at byte 112 of the list\nb.example/*|remote\n*.b.example/*|remote\n"),
        std::string::npos)
        << rules;
    const int line = static_cast<int>(std::count(rules.begin(), rules.begin() + rules.find("*.b.example"), '\n')) + 1;
    EXPECT_EQ(central_site_of_line(rules, line), "the <site> at byte 112 of the list");
    EXPECT_EQ(central_site_of_line(rules, 1), std::nullopt);
}

TEST(CentralList, KeepsItsHeaderAndTheLastRefreshAsWritten)
{
    const rule_copy_header header{
        "https://a.example/l", "2026-01-02 03:04:05 UTC", std::string(64, 'a'), 3, "site list", "\"x\"", ""};
    const std::string text = rule_copy_header_text(header, store_form::central_list) + "a/*";
    const parsed_rule_copy parsed = parse_rule_copy(text, true, store_form::central_list);
    EXPECT_FALSE(parsed.damage);
    EXPECT_EQ(parsed.header.etag + parsed.header.format + text.substr(parsed.body_offset), "\"x\"site lista/*");
    EXPECT_TRUE(parse_rule_copy(text, true).damage);  // not a whitelist_copy copy
    EXPECT_EQ(kept_validator("W/\"a\r\nx\""), "");
    const std::optional<central_attempt> attempt =
        parse_central_attempt(central_attempt_text({"https://a.example/l", "HTTP 500 a\r\nb", false}));
    ASSERT_TRUE(attempt);
    EXPECT_EQ(attempt->result + (attempt->ok ? " ok" : " failed"), "HTTP 500 a\\x0d\\x0ab failed");
}

}  // namespace
