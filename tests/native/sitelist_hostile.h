// The hostile and broken site lists of the import's tests (sitelist_test.cpp), served to Ostrilo.exe by the
// whitelist_url tests too (central_list_test.cpp): each row the list, --strict-host, the import's exit status, a text
// of its output or message, and the links that open locally (beyond those, no link opens locally whose host is not
// one of theirs, or with --strict-host a subdomain).
#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "sitelist.h"

using namespace std::string_literals;

inline std::string sites(const std::string& inner, const std::string& attributes = "")
{
    return "<site-list" + attributes + ">\n<site url=\"app.contoso.example\"><open-in>IE11</open-in></site>\n" + inner +
           "\n</site-list>\n";
}

using hostile_list = std::tuple<std::string, bool, int, std::string, std::vector<std::string>>;

inline std::vector<hostile_list> hostile_sitelists()
{
    const std::string app = "https://app.contoso.example/";
    const std::string pad(4090, 'p');
    std::string many_sites = "<site-list>";
    for (std::size_t i = 0; i <= sitelist_max_sites; ++i)
        many_sites += "<site/>";
    // clang-format off
    return {
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
}
