// Enterprise mode site list to rule lines. A site-list entry takes its host
// and every subdomain of it at a label boundary, and a path prefix; the
// longest entry wins. Rules are first-match globs, so the rules are written
// from the longest entry to the shortest. With strict_host_match=1 an entry
// becomes its host and its "*." form (never "*host", which would also take
// "nothost"); without it, its host only, for then a "*." rule also takes a
// link whose path holds the host.
//
// The list is parsed twice by pugixml, which lets some of what XML forbids
// pass: first with its text as written, to refuse a second root, text outside
// the root, a repeated attribute and a reference XML does not allow; then
// with its references resolved, to read the sites.
#include "sitelist.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <optional>
#include <utility>

#include <pugixml.hpp>

#include "nb_utils.h"

namespace {

// The rule reader takes a line in pieces of at most this many bytes, and
// reads each piece as a line of its own.
constexpr std::size_t line_piece_bytes = 4094;
// How much list text a note or a message quotes.
constexpr std::size_t quoted_bytes = 200;
constexpr std::string_view xml_space = " \t\r\n";

constexpr std::string_view url_schemes[] = {"", "http://", "https://"};

bool is_control(unsigned char c)
{
    return c < 0x20 || c == 0x7f;
}

std::string quoted(std::string_view text)
{
    return quoted_text(text, quoted_bytes);
}

std::string_view xml_trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(xml_space);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(xml_space) + 1 - first);
}

bool equal_ignoring_case(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x) == (y >= 'A' && y <= 'Z' ? y - 'A' + 'a' : y);
           });
}

bool listed(const std::vector<std::string>& values, std::string_view value)
{
    return std::any_of(values.begin(), values.end(),
                       [&](const std::string& listed) { return equal_ignoring_case(listed, value); });
}

// The node after this one in document order within the subtree of top (not
// top itself), or none after its last descendant.
pugi::xml_node next_node(pugi::xml_node node, const pugi::xml_node& top)
{
    if (node.first_child())
        return node.first_child();
    for (; node != top; node = node.parent()) {
        if (node.next_sibling())
            return node.next_sibling();
    }
    return {};
}

// --- The bytes, before any parsing ---

// Why the bytes cannot be a UTF-8 XML text, or none. Offsets count from 0.
std::optional<std::string> check_bytes(std::string_view xml)
{
    if (xml.size() > sitelist_max_bytes) {
        return "the list is larger than 32 MiB (" + std::to_string(sitelist_max_bytes) +
               " bytes); nothing is converted";
    }
    if (xml.starts_with("\xFF\xFE") || xml.starts_with("\xFE\xFF") || xml.substr(0, 2).find('\0') != std::string::npos)
        return "the list is UTF-16 or UTF-32; save it as UTF-8";
    if (const std::size_t valid = valid_utf8_length(xml); valid < xml.size())
        return "not UTF-8 at byte " + std::to_string(valid) + "; save the list as UTF-8";
    for (std::size_t at = 0; at < xml.size(); ++at) {
        const auto c = static_cast<unsigned char>(xml[at]);
        // XML allows no control character but TAB, LF and CR, and neither U+FFFE nor U+FFFF.
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') ||
            (c == 0xef && (xml.compare(at, 3, "\xEF\xBF\xBE") == 0 || xml.compare(at, 3, "\xEF\xBF\xBF") == 0))) {
            return "not well-formed XML: a character XML does not allow (" + quoted(xml.substr(at, c < 0x20 ? 1 : 3)) +
                   ") at byte " + std::to_string(at);
        }
    }
    return std::nullopt;
}

// --- The first parse: what pugixml lets pass ---

// The offset in the list of a byte of a node's text, as parsed in place.
std::size_t offset_of(const pugi::xml_node& node, const char* at)
{
    const char* anchor = node.type() == pugi::node_element ? node.name() : node.value();
    return static_cast<std::size_t>(node.offset_debug()) + static_cast<std::size_t>(at - anchor);
}

// Whether a character reference's code point is a character XML allows.
bool allowed_character(std::string_view digits, int base)
{
    std::uint32_t code = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        return false;
    return code == 0x9 || code == 0xa || code == 0xd || (code >= 0x20 && code <= 0xd7ff) ||
           (code >= 0xe000 && code <= 0xfffd) || (code >= 0x10000 && code <= 0x10ffff);
}

// The first reference in a text as written that XML does not define, or none.
std::optional<std::pair<std::size_t, std::string>> bad_reference(std::string_view text)
{
    for (std::size_t amp = text.find('&'); amp != std::string_view::npos; amp = text.find('&', amp + 1)) {
        const std::size_t semicolon = text.find(';', amp);
        const std::string_view name =
            text.substr(amp + 1, semicolon == std::string_view::npos ? 0 : semicolon - amp - 1);
        bool fine = false;
        if (semicolon == std::string_view::npos)
            fine = false;
        else if (name.starts_with("#x"))
            fine = allowed_character(name.substr(2), 16);
        else if (name.starts_with('#'))
            fine = allowed_character(name.substr(1), 10);
        else
            fine = name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos";
        if (!fine) {
            const std::size_t shown = semicolon == std::string_view::npos ? 12 : semicolon + 1 - amp;
            return std::pair{amp, quoted(text.substr(amp, shown))};
        }
    }
    return std::nullopt;
}

std::string at_byte(std::size_t offset)
{
    return " at byte " + std::to_string(offset);
}

// Why the list is not well-formed XML where pugixml does not say so, or none.
std::optional<std::string> check_well_formed(std::string_view xml)
{
    pugi::xml_document document;
    const unsigned flags = pugi::parse_fragment | pugi::parse_cdata | pugi::parse_declaration;
    const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size(), flags, pugi::encoding_utf8);
    if (!parsed)
        return std::string("not an XML file: ") + parsed.description() +
               at_byte(static_cast<std::size_t>(parsed.offset));
    const std::size_t declaration_at = xml.starts_with("\xEF\xBB\xBF") ? 5 : 2;
    bool root_seen = false;
    std::vector<std::string_view> names;
    for (pugi::xml_node node = document.first_child(); node; node = next_node(node, document)) {
        const bool top = node.parent() == document;
        const auto reference_in = [&](const char* text) -> std::optional<std::string> {
            if (auto bad = bad_reference(text)) {
                return "not well-formed XML: " +
                       (bad->second.starts_with("&#")
                            ? "the character reference '" + bad->second + "' names a character XML does not allow"
                            : "'" + bad->second + "' is no reference XML defines (write '&' as '&amp;')") +
                       at_byte(offset_of(node, text + bad->first));
            }
            return std::nullopt;
        };
        switch (node.type()) {
            case pugi::node_element:
                if (top && std::exchange(root_seen, true)) {
                    return "not well-formed XML: a second root element <" + quoted(node.name()) + ">" +
                           at_byte(offset_of(node, node.name()) - 1);
                }
                names.clear();
                for (const pugi::xml_attribute attribute : node.attributes()) {
                    names.push_back(attribute.name());
                    if (auto bad = reference_in(attribute.value()))
                        return bad;
                }
                std::sort(names.begin(), names.end());
                if (auto twice = std::adjacent_find(names.begin(), names.end()); twice != names.end()) {
                    return "not well-formed XML: the attribute '" + quoted(*twice) + "' twice in <" +
                           quoted(node.name()) + ">" + at_byte(offset_of(node, node.name()) - 1);
                }
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                if (top)
                    return "not well-formed XML: text outside the root element" +
                           at_byte(offset_of(node, node.value()));
                if (node.type() == pugi::node_pcdata) {
                    if (auto bad = reference_in(node.value()))
                        return bad;
                }
                break;
            case pugi::node_declaration:
                if (node != document.first_child() || static_cast<std::size_t>(node.offset_debug()) != declaration_at) {
                    return "not well-formed XML: an XML declaration that does not begin the file" +
                           at_byte(static_cast<std::size_t>(node.offset_debug()) - 2);
                }
                break;
            default:
                break;
        }
    }
    return std::nullopt;
}

// --- The second parse: the sites ---

// One site kept for its rules. Its key, keys[key_at, key_at + key_size), is
// the URL in lower case without scheme: host[:port][path].
struct kept_site {
    std::uint32_t key_at = 0;
    std::uint32_t key_size = 0;
    std::uint32_t offset = 0;     // of its "<site" in the list
    std::uint16_t host_size = 0;  // the key's first bytes
    std::uint16_t path_at = 0;    // where the path begins with its "/" (or the key ends)
    std::uint8_t rule = 0;        // index into the rules: ie, edge, other
    std::uint8_t scheme = 0;      // index into url_schemes
    bool ip = false;
};

// An element's text as XML reads it: every piece of text in it, joined (empty
// for no element).
std::string text_content(const pugi::xml_node& element)
{
    std::string text;
    for (pugi::xml_node node = element.first_child(); node; node = next_node(node, element)) {
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            text += node.value();
    }
    return text;
}

bool allowed_in_host(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
}

bool is_scheme(std::string_view text)
{
    return !text.empty() && text.front() >= 'a' && text.front() <= 'z' &&
           text.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789+.-") == std::string_view::npos;
}

// A control character of ASCII (C0, DEL) or of Unicode (C1, U+0080 to U+009F in UTF-8).
bool holds_control(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (is_control(c) || (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xa0))
            return true;
    }
    return false;
}

// The site's key (into key) from its url attribute, XML white space trimmed;
// gives why it cannot become a rule, or none.
std::optional<std::string> read_url(std::string_view url, kept_site& site, std::string& key)
{
    if (url.empty())
        return "the URL is empty";
    if (url.size() >= line_piece_bytes)
        return "the URL is longer than a rule line can be";
    if (holds_control(url))
        return "the URL holds a control character";
    key.assign(url);
    for (char& c : key)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    for (std::uint8_t scheme = 1; scheme < std::size(url_schemes); ++scheme) {
        if (key.starts_with(url_schemes[scheme])) {
            key.erase(0, url_schemes[scheme].size());
            site.scheme = scheme;
            break;
        }
    }
    if (const std::size_t end = key.find("://"); site.scheme == 0 && end != std::string::npos) {
        if (is_scheme(std::string_view(key).substr(0, end)))
            return "unsupported scheme '" + quoted(url.substr(0, end)) + "': only http and https sites become rules";
    }
    if (key.find_first_of("*| ") != std::string::npos)
        return "a site-list URL holds no '*', '|' or blank";
    const std::size_t slash = std::min(key.find('/'), key.size());
    const std::size_t colon = std::min(key.find(':'), slash);
    const std::string_view host = std::string_view(key).substr(0, colon);
    if (host.empty())
        return "the URL names no host";
    if (!std::all_of(host.begin(), host.end(), allowed_in_host))
        return "the host is not a plain host name";
    if (host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos)
        return "the host has an empty label";
    if (host.find('.') == std::string_view::npos)
        return "the host is a single label, which names no one site; write its full name (intranet.example.com)";
    site.ip = host.find_first_not_of("0123456789.") == std::string_view::npos;
    site.host_size = static_cast<std::uint16_t>(host.size());
    std::size_t path_at = colon;
    if (colon < slash) {
        const std::string_view digits = std::string_view(key).substr(colon + 1, slash - colon - 1);
        unsigned value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value < 1 ||
            value > 65535)
            return "the port is not a number from 1 to 65535";
        const std::string port = std::to_string(value);  // without leading zeros
        key.replace(colon + 1, digits.size(), port);
        path_at = colon + 1 + port.size();
    }
    if (std::string_view(key).substr(path_at) == "/")
        key.resize(path_at);
    site.path_at = static_cast<std::uint16_t>(path_at);
    return std::nullopt;
}

std::string_view host_of(const kept_site& site, std::string_view key)
{
    return key.substr(0, site.host_size);
}

std::string_view path_of(const kept_site& site, std::string_view key)
{
    return key.substr(site.path_at);
}

// The pattern of a site's rule after its host: ":port" and "/*" or "path*".
std::string pattern_tail(const kept_site& site, std::string_view key)
{
    const std::string_view path = path_of(site, key);
    return std::string(key.substr(site.host_size, site.path_at - site.host_size)) +
           (path.empty() ? std::string("/*") : std::string(path) + "*");
}

// The site's note, if any: what its rules leave out or take beyond the entry.
void append_note(std::string& out, const kept_site& site, std::string_view key, bool strict_host)
{
    const bool subdomains = !strict_host && !site.ip;
    const std::string_view path = path_of(site, key);
    const bool prefix = !path.empty() && path.back() != '/';
    if (!subdomains && !prefix && site.scheme == 0)
        return;
    out.append("# ").append(url_schemes[site.scheme]).append(quoted(key)).append(": ");
    std::string_view separator;
    if (subdomains) {
        out += "its subdomains are left out";
        separator = "; ";
    }
    if (prefix) {
        const std::string shown = quoted(path);
        out.append(separator).append("'" + shown + "*' takes every path that begins with '" + shown + "', '" + shown +
                                     "x' too");
        separator = "; ";
    }
    if (site.scheme != 0)
        out.append(separator).append("the rules take http and https alike");
    out += '\n';
}

std::string header(std::string_view version, bool strict_host, std::size_t not_read, std::size_t other_case)
{
    // The version goes in only as a number: the header quotes no list text.
    const bool numbered =
        !version.empty() && version.size() <= 10 && version.find_first_not_of("0123456789") == std::string_view::npos;
    std::string text = "# Imported from an enterprise mode site list" +
                       (numbered ? " (version " + std::string(version) + ")" : std::string()) +
                       ", longest entry first.\n";
    if (strict_host) {
        text +=
            "# Written for strict_host_match=1 (--strict-host): each entry as its host and, for its\n"
            "# subdomains, its \"*.\" form. Read without the key, a \"*.\" rule also takes links whose\n"
            "# path holds the host (https://evil.example/?.host/): set it on every desktop.\n";
    } else {
        text +=
            "# Written for the default matching: each entry takes its host only, not its subdomains\n"
            "# (a note names each such entry), for a \"*.\" rule would also take links whose path\n"
            "# holds the host (https://evil.example/?.host/). Where every desktop reads the rules\n"
            "# with strict_host_match=1, import with --strict-host to keep the subdomains.\n";
    }
    text += "# A site without a port takes only links without a port here.\n";
    if (not_read > 0) {
        text += "# " + std::to_string(not_read) + " <site> elements are not read: " + std::to_string(other_case) +
                " named in another case, " + std::to_string(not_read - other_case) +
                " not directly under <site-list>.\n";
    }
    return text;
}

// The first line (from 1) that the rule reader would not read as written:
// 4094 bytes or longer, or holding a control character; none when all are fine.
std::optional<std::size_t> unreadable_line(std::string_view text)
{
    std::size_t line = 1;
    std::size_t start = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c == '\n') {
            ++line;
            start = at + 1;
        } else if (is_control(c) || at - start + 1 >= line_piece_bytes) {
            return line;
        }
    }
    return std::nullopt;
}

sitelist_result refused(std::string why)
{
    sitelist_result result;
    result.error = std::move(why);
    return result;
}

}  // namespace

sitelist_result import_sitelist(std::string_view xml, const sitelist_options& options)
{
    const std::array<const std::string*, 3> rule_texts{&options.ie_rule, &options.edge_rule, &options.other_rule};
    for (const std::string* rule : rule_texts) {
        if (rule->empty() || holds_control(*rule))
            return refused("a rule given for the sites is empty or holds a control character: '" + quoted(*rule) + "'");
    }
    if (std::optional<std::string> why = check_bytes(xml))
        return refused(std::move(*why));
    if (std::optional<std::string> why = check_well_formed(xml))
        return refused(std::move(*why));

    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed) {
        return refused(std::string("not an XML file: ") + parsed.description() +
                       at_byte(static_cast<std::size_t>(parsed.offset)));
    }
    const pugi::xml_node root = document.document_element();
    if (std::string_view(root.name()) != "site-list") {
        return refused("not a site list of the version 2 schema: the root element is <" + quoted(root.name()) +
                       ">, not <site-list>");
    }
    const auto listed_sites =
        static_cast<std::size_t>(std::distance(root.children("site").begin(), root.children("site").end()));
    if (listed_sites > sitelist_max_sites) {
        return refused("the list holds more than " + std::to_string(sitelist_max_sites) +
                       " sites; nothing is converted");
    }

    std::vector<kept_site> sites;
    sites.reserve(listed_sites);
    std::string keys;  // of the kept sites, one after the other
    const auto key_of = [&](const kept_site& site) {
        return std::string_view(keys).substr(site.key_at, site.key_size);
    };
    // The kept sites by key, to find a repeated entry: open addressing over
    // their indices + 1 (0 is free), never more than half full.
    std::vector<std::uint32_t> slots(std::bit_ceil(std::max<std::size_t>(2 * listed_sites, 16)));
    std::string skipped_notes, key;
    std::size_t skipped = 0, duplicates = 0, not_read = 0, other_case = 0;
    for (pugi::xml_node node = root.first_child(); node; node = next_node(node, root)) {
        const std::string_view name = node.name();
        if (node.type() != pugi::node_element || !equal_ignoring_case(name, "site"))
            continue;
        if (name != "site" || node.parent() != root) {
            ++not_read;
            other_case += name != "site";
            continue;
        }
        kept_site site;
        site.offset = static_cast<std::uint32_t>(node.offset_debug() - 1);
        const std::string_view url = xml_trim(node.attribute("url").value());
        const std::string open_in_text = text_content(node.child("open-in"));
        std::string_view open_in = xml_trim(open_in_text);
        if (open_in.empty())
            open_in = "None";
        site.rule = static_cast<std::uint8_t>(listed(options.edge_values, open_in) ? 1
                                              : listed(options.ie_values, open_in) ? 0
                                                                                   : 2);
        std::optional<std::string> why =
            node.attribute("url") ? read_url(url, site, key) : std::optional<std::string>("no url attribute");
        if (!why) {
            // The longest line of the site: its "*." rule, or its host rule.
            const std::size_t line = (options.strict_host && !site.ip ? 2 : 0) + site.host_size +
                                     pattern_tail(site, key).size() + 1 + rule_texts[site.rule]->size();
            if (line >= line_piece_bytes) {
                why = "its rule line would be " + std::to_string(line) + " bytes; the rule reader takes at most " +
                      std::to_string(line_piece_bytes - 1);
            }
        }
        if (why) {
            skipped_notes += "# skipped " + quoted(url) + " (" + quoted(open_in) + "): " + *why + "\n";
            ++skipped;
            continue;
        }
        std::size_t slot = std::hash<std::string_view>{}(key) & (slots.size() - 1);
        while (slots[slot] != 0 && key_of(sites[slots[slot] - 1]) != key)
            slot = (slot + 1) & (slots.size() - 1);
        if (slots[slot] != 0) {
            const kept_site& first = sites[slots[slot] - 1];
            skipped_notes += "# skipped " + quoted(url) + " (" + quoted(open_in) + "): the same site as " +
                             quoted(key_of(first)) + ", kept as '" + quoted(*rule_texts[first.rule]) + "'\n";
            ++duplicates;
            continue;
        }
        site.key_at = static_cast<std::uint32_t>(keys.size());
        site.key_size = static_cast<std::uint32_t>(key.size());
        keys += key;
        sites.push_back(site);
        slots[slot] = static_cast<std::uint32_t>(sites.size());
    }
    const std::string version = root.attribute("version").value();
    // What follows needs the entries only: the parsed list's memory goes back
    // before the rules grow.
    document.reset();
    slots = {};

    // The longest entry wins in the site list; the first matching rule wins here.
    std::vector<std::uint32_t> longest_first(sites.size());
    for (std::size_t i = 0; i < sites.size(); ++i)
        longest_first[i] = static_cast<std::uint32_t>(i);
    std::stable_sort(longest_first.begin(), longest_first.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return sites[a].key_size > sites[b].key_size; });

    // One site's lines: its note, if any, and its rules.
    const auto append_site = [&](std::string& out, const kept_site& site) {
        const std::string_view site_key = key_of(site);
        append_note(out, site, site_key, options.strict_host);
        const std::string tail = pattern_tail(site, site_key) + "|" + *rule_texts[site.rule] + "\n";
        out.append(host_of(site, site_key)).append(tail);
        if (options.strict_host && !site.ip)
            out.append("*.").append(host_of(site, site_key)).append(tail);
    };
    sitelist_result result;
    std::string& rules = result.rules;
    rules = header(version, options.strict_host, not_read, other_case);
    rules += skipped_notes;
    skipped_notes = {};
    // The rules are sized first, so that they never need room twice.
    std::size_t size = rules.size();
    for (const kept_site& site : sites) {
        append_site(key, site);
        size += key.size();
        key.clear();
    }
    rules.reserve(size);
    auto line = static_cast<std::uint32_t>(std::count(rules.begin(), rules.end(), '\n'));
    result.origins.reserve(sites.size() * (options.strict_host ? 2 : 1));
    std::array<std::size_t, 3> counts{};
    std::size_t narrowed = 0, noted = 0;
    for (const std::uint32_t index : longest_first) {
        const kept_site& site = sites[index];
        const std::size_t before = rules.size();
        append_site(rules, site);
        const auto lines = static_cast<std::uint32_t>(
            std::count(rules.begin() + static_cast<std::ptrdiff_t>(before), rules.end(), '\n'));
        const std::uint32_t rule_lines = options.strict_host && !site.ip ? 2 : 1;
        line += lines - rule_lines;
        for (std::uint32_t i = 0; i < rule_lines; ++i)
            result.origins.push_back({++line, site.offset});
        ++counts[site.rule];
        narrowed += !options.strict_host && !site.ip;
        const std::string_view path = path_of(site, key_of(site));
        noted += site.scheme != 0 || (!path.empty() && path.back() != '/');
    }

    if (const std::optional<std::size_t> bad = unreadable_line(rules)) {
        return refused("line " + std::to_string(*bad) +
                       " of the rules would be 4094 bytes or longer or hold a control character; nothing is "
                       "written (a fault of the conversion: please report it with the list)");
    }
    result.ok = true;
    result.summary = std::to_string(sites.size() + skipped + duplicates) + " sites: ";
    for (const std::size_t i : {0, 1, 2})
        result.summary += std::to_string(counts[i]) + " as '" + quoted(*rule_texts[i]) + "', ";
    result.summary += std::to_string(skipped) + " skipped, " + std::to_string(duplicates) + " duplicates; " +
                      std::to_string(narrowed) + " without their subdomains, " + std::to_string(noted) +
                      " with a note where the rules take more than the site";
    if (not_read > 0)
        result.summary += "; " + std::to_string(not_read) + " <site> elements not read";
    return result;
}
