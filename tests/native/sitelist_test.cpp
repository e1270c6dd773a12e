// The site-list import: the whole output for a realistic list, and what a hostile or broken list gets: the exit
// status, the message and where links go with the rules, read as Ostrilo reads them.
#include <gtest/gtest.h>

#include <algorithm>

#include "commands.h"
#include "lint.h"
#include "nb_utils.h"
#include "sitelist.h"
#include "sitelist_hostile.h"
#include "url_rules.h"

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

TEST(SitelistImport, WritesLongestEntriesFirstWithNotesAndTheSiteOfEachRule)
{
    const sitelist_result result = import_sitelist(site_list, {});
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.rules, expected_rules);
    EXPECT_EQ(result.summary,
              "7 sites: 2 as 'local|ie', 2 as 'local|edge', 1 as 'remote', 1 skipped, 1 duplicates; "
              "4 without their subdomains, 2 with a note where the rules take more than the site");
    // Each rule line names the <site> it came from.
    std::vector<std::string> lines{""};
    for (std::size_t at = 0; at < result.rules.size(); at = result.rules.find('\n', at) + 1)
        lines.push_back(result.rules.substr(at, result.rules.find('\n', at) - at));
    ASSERT_EQ(result.origins.size(), 5u);
    for (const sitelist_origin& origin : result.origins) {
        const std::string site(std::string_view(site_list).substr(origin.site_offset, 40));
        const std::string host = lines.at(origin.line).substr(0, lines[origin.line].find_first_of(":/"));
        EXPECT_TRUE(site.starts_with("<site url=\"") && site.find(host) != std::string::npos) << site << host;
    }
    // Where the desktops read with strict_host_match=1, each entry also gets its "*." form.
    sitelist_options strict;
    strict.strict_host = true;
    const std::string rules = import_sitelist(site_list, strict).rules;
    EXPECT_NE(rules.find("contoso.com/travel*|local|ie\n*.contoso.com/travel*|local|ie\n"), std::string::npos);
    EXPECT_NE(rules.find("\n10.1.2.3/app/*|local|edge\ncontoso.com/*|local|edge\n*.contoso.com/*|local|edge\n"),
              std::string::npos);
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
    const std::string app = "https://app.contoso.example/";
    for (const auto& [xml, strict, status, text, local] : hostile_sitelists()) {
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
        for (const std::string& link :
             {"https://bank.example/login", "https://www.search.example/", "https://evil.example/"})
            EXPECT_FALSE(opens_locally(run.out, link, strict)) << link << "\n" << row;
    }
}

}  // namespace
