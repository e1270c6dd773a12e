// The site-list import: the whole output for a realistic list, and the errors for what is no site list.
#include <gtest/gtest.h>

#include "nb_utils.h"
#include "sitelist.h"

namespace {

const char site_list[] = R"(<?xml version="1.0" encoding="utf-8"?>
<site-list version="205">
  <site url="contoso.com"><compat-mode>default</compat-mode><open-in>MSEdge</open-in></site>
  <site url="contoso.com/travel"><compat-mode>IE7</compat-mode><open-in allow-redirect="true">IE11</open-in></site>
  <site url="relecloud.com"/>
  <site url="http://fabrikam.com:8080"><open-in>ie11</open-in></site>
  <site url="10.1.2.3/app/"><open-in>MSEdge</open-in></site>
  <site url="CONTOSO.com"><open-in>IE11</open-in></site>
  <site url="bad host.example"><open-in>IE11</open-in></site>
</site-list>
)";

const char expected_rules[] =
    R"(# Imported from an enterprise mode site list (version 205), longest entry first.
# A site without a port takes only links without a port here.
# A "*." rule also takes links whose path holds the host (https://evil.example/x.host/);
# strict_host_match=1 in ostrilo.cfg keeps "*" within the host.
# skipped CONTOSO.com (IE11): the same site as contoso.com (MSEdge), which is kept
# skipped bad host.example (IE11): a site-list URL holds no '*', '|' or blank
# contoso.com/travel (IE11): '/travel*' takes every path that begins with '/travel', '/travelx' too
contoso.com/travel*|local|ie
*.contoso.com/travel*|local|ie
# http://fabrikam.com:8080 (ie11): the rules take http and https alike
fabrikam.com:8080/*|local|ie
*.fabrikam.com:8080/*|local|ie
relecloud.com/*|remote
*.relecloud.com/*|remote
10.1.2.3/app/*|local|edge
contoso.com/*|local|edge
*.contoso.com/*|local|edge
)";

TEST(SitelistImport, WritesLongestEntriesFirstWithNotesAndRefusesWhatIsNoSiteList)
{
    const sitelist_result result = import_sitelist(site_list, {});
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.rules, expected_rules);
    EXPECT_EQ(result.summary,
              "7 sites: 2 as 'local|ie', 2 as 'local|edge', 1 as 'remote', 1 skipped, "
              "1 duplicates; 2 with a note where the rules take more than the site");

    // What is no site list is refused.
    const std::pair<const char*, const char*> inputs[] = {
        {"<site-list", "not an XML file: "},
        {"<rules version=\"1\"/>", "not a site list of the version 2 schema: the root element is <rules>"},
    };
    for (const auto& [xml, error] : inputs)
        EXPECT_TRUE(starts_with(import_sitelist(xml, {}).error, error)) << xml;
}

}  // namespace
