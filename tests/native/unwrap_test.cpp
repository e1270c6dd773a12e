// Links wrapped by mail security: what each rewriter's form unwraps to, and the
// look-alike and broken links that stay as they came.
#include "unwrap.h"

#include <gtest/gtest.h>

namespace {

// Every byte but letters and digits escaped, as the rewriters escape a link they wrap.
std::string escaped(const std::string& link)
{
    std::string out;
    for (const unsigned char c : link)
        out += std::isalnum(c) ? std::string(1, static_cast<char>(c))
                               : "%" + std::string(1, "0123456789ABCDEF"[c >> 4]) + "0123456789ABCDEF"[c & 15];
    return out;
}

// "<rewriters> <link looked up>", " (opened)" when that link is also opened; "left (<why>)"; "-" for no rewriter's.
std::string summary(const std::string& link, int mode)
{
    const unwrapped_link u = unwrap_link(link, mode);
    if (u.left_as_is)
        return u.lookup == link && u.opened == link ? "left (" + *u.left_as_is + ")" : "left, but changed";
    std::string out;
    for (const unwrap_layer& layer : u.layers)
        out += layer.rewriter + " > ";
    return out.empty() ? (u.lookup == link && u.opened == link ? "-" : "changed")
                       : out + u.lookup + (u.opened == u.lookup ? " (opened)" : "");
}

TEST(Unwrap, TakesOffEachRewritersLayerAndLeavesLookAlikesAndBrokenLinksAsTheyCame)
{
    const std::string wiki = "https://intranet.example/wiki", safe = "https://eur01.safelinks.protection.outlook.com/";
    const std::string safe_wiki = safe + "?url=" + escaped(wiki) + "&data=x&reserved=0";
    const std::string v3 = "https://urldefense.com/v3/__";
    const auto google = [](const std::string& link) { return "https://www.google.com/url?q=" + escaped(link); };
    // clang-format off
    const std::tuple<std::string, int, std::string> cases[] = {
        // The rewriters' genuine forms.
        {"https://na01.safelinks.protection.outlook.com/?url=http%3a%2f%2fwww.avanan.com", 1,
         "Safe Links > http://www.avanan.com"},
        {"https://urldefense.proofpoint.com/v2/url?u=http-3A__www.google.com_&d=x", 1,
         "URL Defense v2 > http://www.google.com/"},
        {v3 + "https://google.com:443/search?q=a*test&gs=ps__;Kw!-612Flbf$", 1,
         "URL Defense v3 > https://google.com:443/search?q=a+test&gs=ps"},
        {"https://eu-central-1.protection.sophos.com/?d=sophos.com&u=aHR0cHM6Ly93d3cuc29waG9zLmNvbS9kZS1kZS9wcm9kdWN0cy9"
         "zb3Bob3MtZW1haWw=&i=1", 1, "Sophos Central > https://www.sophos.com/de-de/products/sophos-email"},
        {safe_wiki, 2, "Safe Links > " + wiki + " (opened)"},
        {safe_wiki, 0, "-"},
        {"https://x.safelinks.protection.office365.us?url=" + wiki + "&data=x", 1, "Safe Links > " + wiki},
        {"https://outlook.office.com/mail/safelink.html?url=" + escaped(wiki), 1, "Safe Links > " + wiki},
        {"https://statics.teams.cdn.office.net/evergreen-assets/safelinks/2/atp-safelinks.html?url=" + escaped(wiki) +
         "&locale=de", 1, "Safe Links (Teams) > " + wiki},
        {"https://urldefense.proofpoint.com/v1/url?u=" + escaped(wiki + "?a=1&amp;b=2") + "&k=x", 1,
         "URL Defense v1 > " + wiki + "?a=1&b=2"},
        {v3 + wiki + "/**A/x*__;w6Tigqwh!s$", 1, "URL Defense v3 > " + wiki + "/\u00e4\u20ac/x!"},
        {"https://www.google.com/url?sa=t&q=&url=" + escaped(wiki), 1, "Google redirect > " + wiki},
        {"https://secure-web.cisco.com/1aB-c/" + escaped(wiki), 1, "Cisco Secure Email > " + wiki},
        {"https://linkprotect.cudasvc.com/url?a=" + escaped(wiki) + "&c=E,1", 1, "Barracuda > " + wiki},
        {"https://eu1.ctp.trendmicro.com:443/wis/clicktime/v1/query?url=https%3a%2f%2fintra%2dnet.example&umid=1", 1,
         "Trend Micro > https://intra-net.example"},
        {"https://clicktime.symantec.com/3xY?u=" + escaped(wiki), 1, "Symantec ClickTime > " + wiki},
        // Nested, each layer's host checked; four layers at most.
        {"https://eu1.ctp.trendmicro.com/wis/clicktime/v2/clickthrough?url=" + escaped(safe_wiki), 2,
         "Trend Micro > Safe Links > " + wiki + " (opened)"},
        {safe + "?url=" + escaped(v3 + wiki + "__;!x$"), 1, "Safe Links > URL Defense v3 > " + wiki},
        {google(google(google(google(wiki)))), 1,
         "Google redirect > Google redirect > Google redirect > Google redirect > " + wiki},
        {google(google(google(google(google(wiki))))), 1, "left (Google redirect: more than 4 layers)"},
        {safe + "?url=" + escaped("https://evil.example/?url=" + escaped(wiki)), 1,
         "Safe Links > https://evil.example/?url=" + escaped(wiki)},
        // Look-alikes: the host as a browser reads it decides.
        {"https://x.safelinks.protection.outlook.com.evil.example/?url=" + wiki, 1, "-"},
        {"https://evilsafelinks.protection.outlook.com/?url=" + wiki, 1, "-"},
        {"https://eur01.safelinks.protection.outlook.com@evil.example/?url=" + wiki, 1, "-"},
        {"https://evil.example\\.safelinks.protection.outlook.com/?url=" + wiki, 1, "-"},
        {"https://www.google.com/search?q=" + escaped(wiki), 1, "-"},
        {"https://u@eur01.safelinks.protection.outlook.com/?url=" + wiki, 1, "left (Safe Links: a user name)"},
        {"https://eur01.safelinks.protection.outlook.com:8443/?url=" + wiki, 1,
         "left (Safe Links: a port other than the scheme's)"},
        {"http://www.google.com:443/url?q=" + wiki, 1, "left (Google redirect: a port other than the scheme's)"},
        // Broken forms and inner links that are no http(s) links.
        {safe + "?data=x", 1, "left (Safe Links: no parameter url)"},
        {"https://www.google.com/url?sa=t", 1, "left (Google redirect: no parameter q or url)"},
        {safe + "?url=https%3A%2F%2Fx%zz", 1, "left (Safe Links: a bad percent escape)"},
        {safe + "?url=javascript%3Aalert(1)", 1, "left (Safe Links: the inner link is not an absolute http or https link)"},
        {safe + "?url=https%3A%2F%2F%2Fx", 1, "left (Safe Links: the inner link is not an absolute http or https link)"},
        {safe + "?url=https%3A%2F%2Fx%0a", 1, "left (Safe Links: the inner link holds a control character)"},
        {safe + "?url=https%3A%2F%2Fx%C2%85", 1, "left (Safe Links: the inner link holds a control character)"},
        {safe + "?url=https%3A%2F%2Fx%FF", 1, "left (Safe Links: the inner link is not UTF-8)"},
        {"https://x.protection.sophos.com/?u=aHR0c!", 1, "left (Sophos Central: bad base64)"},
        {"https://secure-web.cisco.com/1aB-c/", 1, "left (Cisco Secure Email: an empty last path segment)"},
        {v3 + wiki + "/**C__;w6Tigqwh!s$", 1, "left (URL Defense v3: the token is too short)"},
        {v3 + wiki + "/*__;/w!s$", 1, "left (URL Defense v3: a bad token)"},
        {v3 + wiki + "__!s$", 1, "left (URL Defense v3: not one end marker \"__;\")"},
        {v3 + wiki + "__;__;!s$", 1, "left (URL Defense v3: not one end marker \"__;\")"},
        // Read two ways: a rewriter might follow the other parameter.
        {safe_wiki + "&%55RL=https://evil.example/", 1, "left (Safe Links: the parameter given twice: url)"},
        {google(wiki) + "&url=https://evil.example/", 1, "left (Google redirect: the parameter given twice: q and url)"},
    };
    // clang-format on
    for (const auto& [link, mode, expected] : cases)
        EXPECT_EQ(summary(link, mode), expected) << link;
}

}  // namespace
