// The site-list import: the whole output for a realistic list, and what a hostile or broken list gets: the exit
// status, the message and where links go with the rules, read as Ostrilo reads them; the same lists served as a
// whitelist_url list, converted for the cache.
#include <gtest/gtest.h>

#include <algorithm>

#include "central_list.h"
#include "commands.h"
#include "lint.h"
#include "nb_utils.h"
#include "sitelist.h"
#include "url_rules.h"

using namespace std::string_literals;

namespace {

const char site_list[] = R"(<?xml version="1.0" encoding="utf-8"?>
<site-list version="205">
  <site url="contoso.com"><compat-mode>default</compat-mode><open-in>MSEdge</open-in></site>
  <site url="contoso.com/travel"><compat-mode>IE7</compat-mode><open-in allow-redirect="true">IE11</open-in></site>
  <site url="relecloud.com"/>
  <site url="http://fabrikam.com:08080"><open-in>ie11</open-in></site>
  <site url="10.1.2.3/app/"><open-in>MSEdge</open-in></site>
  <site url="CONTOSO.com"><open-in>IE11</open-in></site>
  <site url="bad host.example"><open-in>IE11</open-in></site>
</site-list>
)";

const char expected_rules[] = R"(# Imported from an enterprise mode site list (version 205), longest entry first.
# Written for the default matching: each entry takes its host only, not its subdomains
# (a note names each such entry), for a "*." rule would also take links whose path
# holds the host (https://evil.example/?.host/). Where every desktop reads the rules
# with strict_host_match=1, import with --strict-host to keep the subdomains.
# A site without a port takes only links without a port here.
# skipped CONTOSO.com (IE11): the same site as contoso.com, kept as 'local|edge'
# skipped bad host.example (IE11): a site-list URL holds no '*', '|' or blank
# contoso.com/travel: its subdomains are left out; '/travel*' takes every path that begins with '/travel', '/travelx' too
contoso.com/travel*|local|ie
# http://fabrikam.com:8080: its subdomains are left out; the rules take http and https alike
fabrikam.com:8080/*|local|ie
# relecloud.com: its subdomains are left out
relecloud.com/*|remote
10.1.2.3/app/*|local|edge
# contoso.com: its subdomains are left out
contoso.com/*|local|edge
)";

TEST(SitelistImport, WritesLongestEntriesFirstWithNotes)
{
    const sitelist_result result = import_sitelist(site_list, {});
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.rules, expected_rules);
    EXPECT_EQ(result.summary,
              "7 sites: 2 as 'local|ie', 2 as 'local|edge', 1 as 'remote', 1 skipped, 1 duplicates; "
              "4 without their subdomains, 2 with a note where the rules take more than the site");
    // Where the desktops read with strict_host_match=1, each entry also gets its "*." form.
    sitelist_options strict;
    strict.strict_host = true;
    const std::string rules = import_sitelist(site_list, strict).rules;
    EXPECT_NE(rules.find("contoso.com/travel*|local|ie\n*.contoso.com/travel*|local|ie\n"), std::string::npos);
    EXPECT_NE(rules.find("\n10.1.2.3/app/*|local|edge\ncontoso.com/*|local|edge\n*.contoso.com/*|local|edge\n"),
              std::string::npos);
}

// A site list of app.contoso.example (for Internet Explorer) and `inner`.
std::string sites(const std::string& inner, const std::string& attributes = "")
{
    return "<site-list" + attributes + ">\n<site url=\"app.contoso.example\"><open-in>IE11</open-in></site>\n" + inner +
           "\n</site-list>\n";
}

// Whether the rules, read in text mode as Ostrilo reads a rule file, send the link to a local browser.
bool opens_locally(const std::string& rules, const std::string& link, bool strict)
{
    std::size_t at = 0;
    const text_mode_reader read{[&](char* buffer, std::size_t size) {
        const std::size_t count = rules.copy(buffer, size, at);
        at += count;
        return count;
    }};
    const std::optional<rule_hit> hit = find_rule_in_blocks(normalise_url(link), read, strict);
    return hit && hit->rule.dest == "local";
}

TEST(SitelistImport, HoldsAgainstHostileAndBrokenLists)
{
    const std::string app = "https://app.contoso.example/", pad(4090, 'p');
    std::string many_sites = "<site-list>";
    for (std::size_t i = 0; i <= sitelist_max_sites; ++i)
        many_sites += "<site/>";
    // Each row the list, --strict-host, the import's exit status, a text of its output or message, and the links that
    // open locally (beyond those, no link opens locally whose host is not one of theirs, or with --strict-host a
    // subdomain).
    // clang-format off
    const std::tuple<std::string, bool, int, std::string, std::vector<std::string>> cases[] = {
        // Rules planted by a long note, the version in the header, or a rule of 4094 bytes.
        {sites("<site url=\"" + pad + " *|local|firefox|\"/>"), false, 0, "# skipped " + pad.substr(0, 200) + "...(cut) (None): the URL is longer than a rule line can be", {app}},
        {sites("", " version=\"" + pad + "&#10;*|local|ie\""), false, 0, "site list, longest", {app}},
        {sites("<site url=\"long.example/" + pad.substr(0, 4070) + "\"><open-in>IE11</open-in></site><site url=\"toolong.example/" +
               pad.substr(0, 4068) + "\"><open-in>IE11</open-in></site>"), false, 0,
         "its rule line would be 4094 bytes; the rule reader takes at most 4093", {app, "https://long.example/" + pad.substr(0, 4070)}},
        // <open-in> and url as XML reads them.
        {sites("<site url=\" b.example\n\"><open-in>\n  IE11\n</open-in></site><site url=\"c.example\"><open-in>IE<!-- c -->11</open-in></site>"
               "<site url=\"d.example\"><open-in><![CDATA[IE11]]></open-in></site>"), false, 0, "\nd.example/*|local|ie\n",
         {app, "https://b.example/", "http://c.example/x", "https://d.example/"}},
        {sites("<site url=\"e.example&#10;.evil.example\"/><site url=\"f.example/a&#13;b\"/>"), false, 0,
         "# skipped e.example\\x0a.evil.example (None): the URL holds a control character", {app}},
        // Not well-formed: refused as a whole, with the byte.
        {sites("<site url=\"g.example&#26;\"/>"), false, 2, "the character reference '&#26;' names a character XML does not allow at byte 95", {}},
        {sites("<site url=\"g.example/&#0;x\"/>"), false, 2, "'&#0;' names a character XML does not allow at byte 96", {}},
        {sites("<site url=\"g.example?a=1&b=2\"/>"), false, 2, "'&b=2' is no reference XML defines (write '&' as '&amp;') at byte 99", {}},
        {sites("") + "<site-list><site url=\"h.example\"/></site-list>", false, 2, "a second root element <site-list> at byte 89", {}},
        {sites("") + "*|local|ie\n", false, 2, "text outside the root element at byte 88", {}},
        {sites("<site url=\"i.example\" url=\"*\"/>"), false, 2, "the attribute 'url' twice in <site> at byte 75", {}},
        {sites("<site url=\"j.example\x1a\"/>"), false, 2, "a character XML does not allow (\\x1a) at byte 95", {}},
        {sites("<site url=\"k.example/\xe9\"/>"), false, 2, "not UTF-8 at byte 96", {}},
        {"\xFF\xFE<\0s\0"s, false, 2, "the list is UTF-16 or UTF-32; save it as UTF-8", {}},
        {"<site-list>", false, 2, "not an XML file: Start-end tags mismatch at byte 10", {}},
        // Bounded.
        {std::string(sitelist_max_bytes + 1, ' '), false, 2, "the list is larger than 32 MiB (33554432 bytes)", {}},
        {many_sites + "</site-list>", false, 2, "the list holds more than 1000000 sites", {}},
        // What is no site for a rule says why.
        {sites("<site url=\"ftp://l.example\"/><site url=\"file://m.example/share\"/>"), false, 0,
         "# skipped file://m.example/share (None): unsupported scheme 'file'", {app}},
        {sites("<site url=\"n.example:12345678901234567890\"/><site url=\"n.example:0\"/><site url=\"n.example:65536\"/>"
               "<site url=\"n.example:8443\"><open-in>MSEdge</open-in></site>"), true, 0,
         "# skipped n.example:65536 (None): the port is not a number from 1 to 65535", {app, "https://n.example:8443/"}},
        {sites("<site url=\"example\"><open-in>IE11</open-in></site><site url=\".\"/><site url=\"..\"/><site url=\".x\"/>"), true, 0,
         "# skipped example (IE11): the host is a single label", {app}},
        {sites("<Site url=\"o.example\"><open-in>IE11</open-in></Site><x><site url=\"p.example\"><open-in>IE11</open-in></site></x>"),
         false, 0, "# 2 <site> elements are not read: 1 named in another case, 1 not directly under <site-list>.", {app}},
        {sites("<site url=\"q.example/app\"><open-in>MSEdge</open-in></site>"), false, 0,
         "# q.example/app: its subdomains are left out; '/app*' takes", {app, "https://q.example/app/x?.contoso.example/"}},
    };
    // clang-format on
    for (const auto& [xml, strict, status, text, local] : cases) {
        const command_output run = import_command(xml, {}, strict);
        const std::string row = xml.substr(0, 200);
        EXPECT_EQ(run.status, status) << row;
        EXPECT_NE((run.out + run.err).find(text), std::string::npos) << run.out << run.err;
        EXPECT_EQ(run.out.empty(), status != 0) << row;
        for (std::size_t at = 0; at < run.out.size(); at = run.out.find('\n', at) + 1) {
            const std::string_view line = std::string_view(run.out).substr(at, run.out.find('\n', at) - at);
            EXPECT_TRUE(line.size() < 4094 &&
                        std::none_of(line.begin(), line.end(), [](char c) { return c >= 0 && c < 0x20; }))
                << line.substr(0, 200);
        }
        EXPECT_TRUE(lint_rule_files({{"rules.txt", run.out}}, strict).empty()) << row;
        for (const std::string& link : local) {
            const std::string host = link.substr(8, link.find_first_of(":/", 8) - 8);
            EXPECT_TRUE(opens_locally(run.out, link, strict)) << link;
            EXPECT_EQ(opens_locally(run.out, "https://www." + link.substr(8), strict), strict) << link;
            for (const std::string& posing :
                 {"https://evil.example/?." + host + "/", "https://evil.example/x." + host + "/",
                  "https://" + host + ".evil.example/"})
                EXPECT_FALSE(opens_locally(run.out, posing, strict)) << posing;
        }
        for (const char* link : {"https://bank.example/login", "https://www.search.example/", "https://evil.example/"})
            EXPECT_FALSE(opens_locally(run.out, link, strict)) << link << "\n" << row;
        // Served as the whitelist_url list: converted as --strict-host converts it, or refused as a whole.
        const central_conversion served = convert_central_list(xml);
        EXPECT_EQ(served.ok, status == 0) << row;
        EXPECT_TRUE(served.ok || served.error.find(text.substr(0, 30)) != std::string::npos) << served.error;
        for (const std::string& link : strict || status ? local : std::vector<std::string>{app})
            EXPECT_TRUE(opens_locally(served.body, link, true)) << link;
        for (const char* link : {"https://evil.example/?.app.contoso.example/", "https://bank.example/login",
                                 "https://app.contoso.example.evil.example/"})
            EXPECT_FALSE(opens_locally(served.body, link, true)) << link << "\n" << row;
    }
}

}  // namespace
