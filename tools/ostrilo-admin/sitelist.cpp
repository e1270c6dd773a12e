// Enterprise mode site list to rule lines. A site-list entry takes its host
// and every subdomain of it at a label boundary, and a path prefix; the
// longest entry wins. Rules are first-match globs, so the rules are written
// from the longest entry to the shortest, each entry as its host and its
// "*." form (never "*host", which would also take "nothost").
#include "sitelist.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <optional>
#include <unordered_map>
#include <utility>

#include <pugixml.hpp>

#include "nb_utils.h"

namespace {

// One site as written in the list, and what the import made of it.
struct site_entry {
    std::string url;      // as written
    std::string open_in;  // as written, "None" when absent
    std::string key;      // lower case, without scheme: host[:port][/path]
    std::string host;
    std::string port;
    std::string path;  // from its "/", or empty
    bool scheme = false;
};

bool allowed_in_host(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
}

bool is_ip_address(std::string_view host)
{
    return host.find_first_not_of("0123456789.") == std::string_view::npos;
}

// A site-list value inside a "#" note: a line break from a character reference
// (&#10;) would start a line of its own, which a rule file reads as a rule.
std::string on_one_line(std::string_view text)
{
    std::string line(text);
    std::replace_if(
        line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line;
}

bool listed(const std::vector<std::string>& values, std::string_view value)
{
    return std::any_of(values.begin(), values.end(),
                       [&](const std::string& listed) { return ascii_lower(listed) == ascii_lower(value); });
}

// Splits the entry's URL; gives why it cannot become a rule, or none.
std::optional<std::string> split_url(site_entry& site)
{
    std::string key = ascii_lower(trim(site.url));
    for (std::string_view scheme : {"https://", "http://"}) {
        if (starts_with(key, scheme)) {
            key.erase(0, scheme.size());
            site.scheme = true;
        }
    }
    if (key.find_first_of("*| \t") != std::string::npos)
        return "a site-list URL holds no '*', '|' or blank";
    std::size_t slash = std::min(key.find('/'), key.size());
    std::string_view authority = std::string_view(key).substr(0, slash);
    site.path = key.substr(slash);
    if (site.path == "/")
        site.path.clear();
    std::size_t colon = std::min(authority.find(':'), authority.size());
    site.host = authority.substr(0, colon);
    site.port = authority.substr(std::min(colon + 1, authority.size()));
    if (site.host.empty() || !std::all_of(site.host.begin(), site.host.end(), allowed_in_host))
        return "the host is not a plain host name";
    if (colon < authority.size() &&
        (site.port.empty() || site.port.find_first_not_of("0123456789") != std::string::npos))
        return "the port is not a number";
    site.key = key.substr(0, slash) + site.path;
    return std::nullopt;
}

const std::string& rule_for(const site_entry& site, const sitelist_options& options)
{
    if (listed(options.edge_values, site.open_in))
        return options.edge_rule;
    if (listed(options.ie_values, site.open_in))
        return options.ie_rule;
    return options.other_rule;
}

// The site's rule lines, with a note where they take more than the entry.
std::string rules_for(const site_entry& site, const std::string& rule)
{
    std::string text;
    std::string where = on_one_line(site.url) + " (" + site.open_in + ")";
    if (site.scheme)
        text += "# " + where + ": the rules take http and https alike\n";
    if (!site.path.empty() && site.path.back() != '/') {
        text += "# " + where + ": '" + site.path + "*' takes every path that begins with '" + site.path + "', '" +
                site.path + "x' too\n";
    }
    std::string tail = (site.port.empty() ? "" : ":" + site.port) + (site.path.empty() ? "/*" : site.path + "*");
    text += site.host + tail + "|" + rule + "\n";
    if (!is_ip_address(site.host))
        text += "*." + site.host + tail + "|" + rule + "\n";
    return text;
}

bool usable_rule(std::string_view rule)
{
    return !rule.empty() && rule.find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace

sitelist_result import_sitelist(std::string_view xml, const sitelist_options& options)
{
    for (const std::string* rule : {&options.edge_rule, &options.ie_rule, &options.other_rule}) {
        if (!usable_rule(*rule))
            return {false, "", "", "a rule given for the sites is empty or spans lines: '" + *rule + "'"};
    }
    pugi::xml_document document;
    pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
    if (!parsed) {
        return {false, "", "",
                std::string("not an XML file: ") + parsed.description() + " at byte " + std::to_string(parsed.offset)};
    }
    pugi::xml_node root = document.document_element();
    if (std::string_view(root.name()) != "site-list") {
        return {false, "", "",
                "not a site list of the version 2 schema: the root element is <" + std::string(root.name()) +
                    ">, not <site-list>"};
    }

    std::vector<site_entry> sites;
    // Each kept key to its entry in sites, so that finding a duplicate does not
    // walk every site kept before it. The keys view the entries' own keys: sites
    // is reserved for every listed site, so its entries never move.
    std::unordered_map<std::string_view, std::size_t> kept;
    const auto listed_sites =
        static_cast<std::size_t>(std::distance(root.children("site").begin(), root.children("site").end()));
    sites.reserve(listed_sites);
    kept.reserve(listed_sites);
    std::string skipped_notes;
    int skipped = 0;
    int duplicates = 0;
    for (pugi::xml_node node : root.children("site")) {
        site_entry site;
        site.url = node.attribute("url").value();
        site.open_in = trim(node.child_value("open-in"));
        if (site.open_in.empty())
            site.open_in = "None";
        if (std::optional<std::string> why = split_url(site)) {
            skipped_notes += "# skipped " + on_one_line(site.url) + " (" + site.open_in + "): " + *why + "\n";
            ++skipped;
            continue;
        }
        if (auto same = kept.find(site.key); same != kept.end()) {
            const site_entry& first = sites[same->second];
            skipped_notes += "# skipped " + on_one_line(site.url) + " (" + site.open_in + "): the same site as " +
                             on_one_line(first.url) + " (" + first.open_in + "), which is kept\n";
            ++duplicates;
            continue;
        }
        sites.push_back(std::move(site));
        kept.emplace(sites.back().key, sites.size() - 1);
    }
    std::string version = on_one_line(root.attribute("version").value());
    // What follows needs the entries only; the parsed list's memory goes back
    // before the rules grow.
    document.reset();
    // The longest entry wins in the site list; the first matching rule wins here.
    // The entries stay in place; their order is sorted.
    std::vector<const site_entry*> longest_first;
    longest_first.reserve(sites.size());
    for (const site_entry& site : sites)
        longest_first.push_back(&site);
    std::stable_sort(longest_first.begin(), longest_first.end(),
                     [](const site_entry* a, const site_entry* b) { return a->key.size() > b->key.size(); });

    std::string rules = "# Imported from an enterprise mode site list" +
                        (version.empty() ? std::string() : " (version " + version + ")") +
                        ", longest entry first.\n"
                        "# A site without a port takes only links without a port here.\n"
                        "# A \"*.\" rule also takes links whose path holds the host (https://evil.example/x.host/);\n"
                        "# strict_host_match=1 in ostrilo.cfg keeps \"*\" within the host.\n";
    rules += skipped_notes;
    std::array<std::pair<const std::string*, int>, 3> counts{
        {{&options.ie_rule, 0}, {&options.edge_rule, 0}, {&options.other_rule, 0}}};
    int noted = 0;
    for (const site_entry* site : longest_first) {
        const std::string& rule = rule_for(*site, options);
        std::string lines = rules_for(*site, rule);
        noted += lines.front() == '#' ? 1 : 0;
        rules += lines;
        for (auto& [counted, count] : counts) {
            if (counted == &rule)
                ++count;
        }
    }

    std::string summary = std::to_string(sites.size() + skipped + duplicates) + " sites: ";
    for (const auto& [rule, count] : counts)
        summary += std::to_string(count) + " as '" + *rule + "', ";
    summary += std::to_string(skipped) + " skipped, " + std::to_string(duplicates) + " duplicates; " +
               std::to_string(noted) + " with a note where the rules take more than the site";
    return {true, std::move(rules), std::move(summary), ""};
}
