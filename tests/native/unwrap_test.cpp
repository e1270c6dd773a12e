// Links wrapped by mail security: what each rewriter's form unwraps to, and the
// look-alike, broken and two-way links that stay as they came.
// With --readings DIR..., the program prints instead, for each link of the table
// and of the rules fuzz inputs in DIR, and for each layer taken off, one JSON line
// with its reading as a browser sends it, which browser_reading.js holds against
// Node's URL parser.
#include "unwrap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>

#include "nb_utils.h"
#include "url_rules.h"

namespace {

// Every byte but letters and digits escaped, as the rewriters escape a link they wrap.
std::string escaped(const std::string& link)
{
    std::string out;
    for (const unsigned char c : link)
        if (std::isalnum(c))
            out += static_cast<char>(c);
        else
            out += {'%', "0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
    return out;
}

// "<rewriters> <link looked up>", then " (opened)" when that link is also opened or " (opens <link>)"
// when it is opened written otherwise; "left (<why>)"; "-" for no rewriter's.
std::string summary(const std::string& link, int mode)
{
    const unwrapped_link u = unwrap_link(link, mode);
    if (u.left_as_is)
        return u.lookup == link && u.opened == link ? "left (" + *u.left_as_is + ")" : "left, but changed";
    std::string out;
    for (const unwrap_layer& layer : u.layers)
        out += layer.rewriter + " > ";
    if (out.empty())
        return u.lookup == link && u.opened == link ? "-" : "changed";
    return out + u.lookup + (u.opened == u.lookup ? " (opened)" : u.opened == link ? "" : " (opens " + u.opened + ")");
}

std::vector<std::tuple<std::string, int, std::string>> cases()
{
    const std::string wiki = "https://intranet.example/wiki", outlook = "safelinks.protection.outlook.com";
    const std::string safe = "https://eur01." + outlook + "/";
    const std::string safe_wiki = safe + "?url=" + escaped(wiki) + "&data=x&reserved=0";
    const std::string v3 = "https://urldefense.com/v3/__";
    const auto google = [](const std::string& link) { return "https://www.google.com/url?q=" + escaped(link); };
    // clang-format off
    return {
        // The rewriters' genuine forms.
        {"https://na01.safelinks.protection.outlook.com/?url=http%3a%2f%2fwww.avanan.com", 1,
         "Safe Links > http://www.avanan.com"},
        {"https://urldefense.proofpoint.com/v2/url?u=http-3A__www.google.com_&d=x", 1,
         "URL Defense v2 > http://www.google.com/"},
        {v3 + "https://google.com:443/search?q=a*test&gs=ps__;Kw!-612Flbf$", 1,
         "URL Defense v3 > https://google.com:443/search?q=a+test&gs=ps"},
        {"https://eu-central-1.protection.sophos.com/?d=sophos.com&u=aHR0cHM6Ly93d3cuc29waG9zLmNvbS9kZS1kZS9wcm9kdWN0cy9"
         "zb3Bob3MtZW1haWw=&i=1", 1, "Sophos Central > https://www.sophos.com/de-de/products/sophos-email"},
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
        {"https://eur01." + outlook + ":8443/?url=" + wiki, 1, "left (Safe Links: a port other than the scheme's)"},
        {"http://www.google.com:443/url?q=" + wiki, 1, "left (Google redirect: a port other than the scheme's)"},
        {"https://eur%C3%A401." + outlook + "/?url=" + wiki, 1, "left (Safe Links: a host name a browser maps by IDNA)"},
        {"https://xn--eur01." + outlook + "/?url=" + wiki, 1, "left (Safe Links: a host name a browser maps by IDNA)"},
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
        // Read two ways: a rewriter might follow the other parameter, or the other part of its link.
        {safe_wiki + "&%55RL=https://evil.example/", 1, "left (Safe Links: the parameter given twice: url)"},
        {google(wiki) + "&url=https://evil.example/", 1, "left (Google redirect: the parameter given twice: q and url)"},
        {safe_wiki + ";url=https://evil.example/", 1, "left (Safe Links: the parameter given twice: url)"},
        {safe + "?url=https%3A%2F%2Fevil.example;.intranet.example%2F", 1,
         "left (Safe Links: a \";\" beside the parameter url)"},
        {"https://secure-web.cisco.com/1aB-c/x/" + escaped(wiki), 1, "left (Cisco Secure Email: not /<token>/<link>)"},
        {v3 + wiki + "/*__;w6Tigqwh!s$", 1, "left (URL Defense v3: the token is too long)"},
        {v3 + wiki + "/%2a*__;QQ!s$", 1, "left (URL Defense v3: an escaped star or a star inside an escape)"},
        {v3 + wiki + "/%4*__;MQ!s$", 1, "left (URL Defense v3: an escaped star or a star inside an escape)"},
        {v3 + wiki + "#__;!s$", 1, "left (URL Defense v3: not one end marker \"__;\")"},
        // Sent otherwise by a browser: neither reading is taken off, whichever of the two is a rewriter's.
        {safe + "?u\trl=https://evil.example/&url=" + escaped(wiki), 1, "left (Safe Links: a tab or line break)"},
        {"https://www.goo\ngle.com/url?q=" + escaped(wiki), 1, "left (Google redirect: a tab or line break)"},
        {" " + safe_wiki, 1, "left (Safe Links: a blank or control character at its start or end)"},
        {"https:/www.google.com/url?q=" + escaped(wiki), 1,
         "left (Google redirect: other slashes than two after the scheme)"},
        {"https://www.google.com\\url?q=" + escaped(wiki), 1, "left (Google redirect: a backslash)"},
        {safe_wiki + "&x=\\", 1, "left (Safe Links: a backslash)"},
        {v3 + "https://intranet.example/a/../../../../../v3/__https://evil.example/__;!s$", 1,
         "left (URL Defense v3: a dot segment in the path)"},
        {"https://www.google.com/a/%2e%2E/url?q=" + escaped(wiki), 1, "left (Google redirect: a dot segment in the path)"},
        {safe + ".%2e/%2E?url=" + escaped(wiki), 1, "left (Safe Links: a dot segment in the path)"},
        {safe + "?url=" + escaped(wiki + "/../admin"), 1, "left (Safe Links: the inner link holds a dot segment in the path)"},
        {safe + "?url=" + escaped("https://intranet.example\\@evil.example/"), 1,
         "left (Safe Links: the inner link holds a backslash)"},
        // unwrap_links=2 opens the inner link as a browser writes it: one argument, UTF-8 kept.
        {safe + "?url=" + escaped(wiki + "/ --flag=\"x\""), 2,
         "Safe Links > " + wiki + "/ --flag=\"x\" (opens " + wiki + "/%20--flag=%22x%22)"},
        {safe + "?url=" + escaped(wiki + "/stra\u00dfe?q=<{|}>^`#\\"), 2, "Safe Links > " + wiki +
         "/stra\u00dfe?q=<{|}>^`#\\ (opens " + wiki + "/stra\u00dfe?q=%3C%7B%7C%7D%3E%5E%60#%5C)"},
    };
    // clang-format on
}

TEST(Unwrap, TakesOffEachRewritersLayerAndLeavesLookAlikesBrokenAndTwoWayLinksAsTheyCame)
{
    for (const auto& [link, mode, expected] : cases())
        EXPECT_EQ(summary(link, mode), expected) << link;
}

// One JSON line: the link, whether unwrap_links=1 takes a layer off it, and
// its browser_form's host (as strict host matching finds it), port, path and query.
// Windows hands links on as UTF-16, so they arrive as UTF-8: no line for other bytes.
void print_reading(const std::string& link)
{
    if (!is_valid_utf8(link))
        return;
    const unwrapped_link u = unwrap_link(link, 1);
    nlohmann::json line = {{"link", link}, {"unwrapped", !u.left_as_is && !u.layers.empty()}, {"host", nullptr}};
    const std::string sent = browser_form(link), head = ascii_lower(sent.substr(0, 8));
    const std::size_t after = head.starts_with("https://") ? 8 : head.starts_with("http://") ? 7 : 0;
    if (const std::optional<std::string> form = after ? strict_link_host_form(sent.substr(after)) : std::nullopt) {
        const std::string authority = form->substr(0, form->find_first_of("/?#")),
                          host = authority.substr(0, authority.find(':'));
        const std::size_t path = sent.find_first_of("/?#", after),
                          query = std::min(sent.find_first_of("?#", path), sent.size());
        line["host"] = host;
        line["port"] = authority.substr(std::min(host.size() + 1, authority.size()));
        line["path"] = query > path ? sent.substr(path, query - path) : "/";
        line["query"] =
            query < sent.size() && sent[query] == '?' ? sent.substr(query + 1, sent.find('#', query) - query - 1) : "";
    }
    std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    for (const unwrap_layer& layer : u.layers)
        print_reading(layer.link);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1] != std::string("--readings")) {
        testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }
    for (const auto& [link, mode, expected] : cases())
        print_reading(link);
    // A rules fuzz input: a rule line, NUL, the link, and maybe a NUL and more.
    for (int i = 2; i < argc; ++i)
        for (const auto& file : std::filesystem::directory_iterator(argv[i])) {
            std::ifstream in(file.path(), std::ios::binary);
            const std::string input((std::istreambuf_iterator<char>(in)), {});
            const std::size_t nul = input.find('\0');
            if (nul != std::string::npos)
                print_reading(input.substr(nul + 1, input.find('\0', nul + 1) - nul - 1));
        }
    return 0;
}
