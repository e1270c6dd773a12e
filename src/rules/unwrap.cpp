// The rewriters of mail and chat security as one table, and the one reader
// that takes their layers off a link (ostrilo.cfg: unwrap_links). A link is
// only unwrapped when its host, found as a browser finds it, is a rewriter's
// own (parameter names alone never make a rewriter), and when neither the
// browser nor the rewriter's server could read it another way than we do.
#include "unwrap.h"

#include <algorithm>
#include <vector>

#include "nb_utils.h"
#include "url_rules.h"

namespace {

// "." or ".." in any spelling a browser collapses ("%2e" for a dot, in any
// case): 1 or 2; 0 for every other segment.
int dot_segment(std::string_view segment)
{
    if (segment.empty() || segment.size() > 6 || (segment.front() != '.' && segment.front() != '%'))
        return 0;
    const std::string dots = replace_all(ascii_lower(segment), "%2e", ".");
    return dots == "." ? 1 : dots == ".." ? 2 : 0;
}

// The path as a browser sends it: segments end at "/" and "\", "." goes,
// ".." takes the segment before it along (never the root), and either leaves
// the path ending in "/" when it is the last. An empty path stays empty: the
// server receives "/" either way.
std::string browser_path(std::string_view path)
{
    // Most paths have no segment a browser could take out.
    if (path.find_first_of("\\.%") == std::string_view::npos)
        return std::string(path);
    std::vector<std::string_view> kept;
    for (std::string_view rest = path.substr(1);;) {
        const std::size_t end = std::min(rest.find_first_of("/\\"), rest.size());
        const int dots = dot_segment(rest.substr(0, end));
        const bool last = end == rest.size();
        if (dots == 2 && !kept.empty())
            kept.pop_back();
        if (dots == 0 || last)
            kept.push_back(dots == 0 ? rest.substr(0, end) : std::string_view());
        if (last)
            break;
        rest.remove_prefix(end + 1);
    }
    std::string out;
    for (const std::string_view segment : kept)
        (out += '/') += segment;
    return out;
}

// The link as a browser sends it (see browser_form), and in change the first
// reason why that is not the link as written.
std::string read_as_browser(std::string_view link, std::optional<std::string>& change)
{
    const auto note = [&](bool changed, const char* why) {
        if (changed && !change)
            change = why;
    };
    std::size_t first = 0, last = link.size();
    while (first < last && static_cast<unsigned char>(link[first]) <= 0x20)
        ++first;
    while (last > first && static_cast<unsigned char>(link[last - 1]) <= 0x20)
        --last;
    std::string text(link.substr(first, last - first));
    note(std::erase_if(text, [](char c) { return c == '\t' || c == '\n' || c == '\r'; }) > 0, "a tab or line break");
    note(last - first < link.size(), "a blank or control character at its start or end");
    // A browser keeps "\" in the query, but a rewriter's server may not.
    note(std::string_view(text).substr(0, text.find('#')).find('\\') != std::string_view::npos, "a backslash");
    const std::string head = ascii_lower(std::string_view(text).substr(0, 6));
    const std::size_t colon = head.starts_with("https:") ? 5 : head.starts_with("http:") ? 4 : std::string::npos;
    if (colon == std::string::npos)
        return text;
    std::size_t host_at = colon + 1;
    while (host_at < text.size() && (text[host_at] == '/' || text[host_at] == '\\'))
        ++host_at;
    note(host_at != colon + 3, "other slashes than two after the scheme");
    const auto at = [&](std::size_t from, auto test) {
        return std::find_if(text.begin() + from, text.end(), test) - text.begin();
    };
    const std::size_t path_at = at(host_at, [](char c) { return c == '/' || c == '\\' || c == '?' || c == '#'; });
    const std::size_t query_at = at(path_at, [](char c) { return c == '?' || c == '#'; });
    const std::string_view written = std::string_view(text).substr(path_at, query_at - path_at);
    const std::string path = browser_path(written);
    note(path != written, "a dot segment in the path");
    if (host_at == colon + 3 && path == written)
        return text;
    return text.substr(0, colon + 1) + "//" + text.substr(host_at, path_at - host_at) + path + text.substr(query_at);
}

// A link's parts as a browser reads them; rest and written_path keep the text as written.
struct link_parts {
    std::string scheme;  // "http" or "https"
    std::string host;    // as strict host matching finds it
    bool user_name = false;
    std::optional<std::string> port;  // the text behind ":", none without one
    std::string path;                 // lower case, "\" read as "/", "/" when empty
    std::string written_path;
    std::string query;  // behind "?", up to "#"
    std::string rest;   // everything behind the host and port
};

std::optional<link_parts> split_link(std::string_view link)
{
    link_parts parts;
    const std::string head = ascii_lower(link.substr(0, 8));
    parts.scheme = head.starts_with("https://") ? "https" : head.starts_with("http://") ? "http" : "";
    if (parts.scheme.empty())
        return std::nullopt;
    const std::string_view text = link.substr(parts.scheme.size() + 3);
    const std::optional<std::string> form = strict_link_host_form(text);
    if (!form)
        return std::nullopt;
    parts.host = form->substr(0, form->find_first_of(":/?#"));
    if (parts.host.empty())
        return std::nullopt;
    const std::size_t end = std::min(text.find_first_of("/?#\\"), text.size());
    const std::string_view authority = text.substr(0, end);
    parts.user_name = authority.find('@') != std::string_view::npos;
    const std::string_view host_port = authority.substr(authority.rfind('@') + 1);  // npos + 1: all of it
    if (const std::size_t colon = host_port.find(':'); colon != std::string_view::npos)
        parts.port = std::string(host_port.substr(colon + 1));
    parts.rest = std::string(text.substr(end));
    const std::size_t query_at = std::min(parts.rest.find_first_of("?#"), parts.rest.size());
    parts.written_path = parts.rest.substr(0, query_at);
    parts.path = parts.written_path.empty() ? "/" : ascii_lower(parts.written_path);
    std::replace(parts.path.begin(), parts.path.end(), '\\', '/');
    if (query_at < parts.rest.size() && parts.rest[query_at] == '?')
        parts.query = parts.rest.substr(query_at + 1, parts.rest.find('#', query_at) - query_at - 1);
    return parts;
}

// An empty port, or the scheme's written with any number of leading zeros, is the scheme's.
bool default_port(const link_parts& link)
{
    if (!link.port || link.port->empty())
        return true;
    const std::string& digits = *link.port;
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const std::size_t first = digits.find_first_not_of('0');
    return (first == std::string::npos ? "0" : digits.substr(first)) == (link.scheme == "https" ? "443" : "80");
}

// A browser maps a host name by IDNA before it looks it up: one with a byte
// beyond ASCII or an "xn--" label may name another host for it, or none.
bool idna_host(std::string_view host)
{
    return host.starts_with("xn--") || host.find(".xn--") != std::string_view::npos ||
           std::any_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// True when one blank-separated word of list satisfies test.
template <typename Test>
bool any_word(std::string_view list, Test test)
{
    while (!list.empty()) {
        const std::size_t blank = std::min(list.find(' '), list.size());
        if (blank > 0 && test(list.substr(0, blank)))
            return true;
        list.remove_prefix(std::min(blank + 1, list.size()));
    }
    return false;
}

// "*.name" stands for the hosts below name, compared at a dot; any other name for itself.
bool host_listed(std::string_view hosts, std::string_view host)
{
    return any_word(hosts, [&](std::string_view name) {
        return name.starts_with("*.") ? host.size() > name.size() - 1 && host.ends_with(name.substr(1)) : host == name;
    });
}

// A trailing "*" takes any rest of the path.
bool path_listed(std::string_view paths, std::string_view path)
{
    return any_word(paths, [&](std::string_view want) {
        return want.ends_with('*') ? path.starts_with(want.substr(0, want.size() - 1)) : path == want;
    });
}

// Every "%XY" decoded (upper or lower case); a "%" without two hex digits
// fails. "+" stays "+": the rewriters escape a blank, and reading "+" as one
// would change links that hold a plus.
std::optional<std::string> percent_decoded(std::string_view text, std::string& why)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const std::optional<char> byte = escaped_byte(text, i);
        if (!byte) {
            why = "a bad percent escape";
            return std::nullopt;
        }
        out += *byte;
        i += 2;
    }
    return out;
}

constexpr std::string_view base64url_alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Base64 in the standard and the URL alphabet, with or without padding.
// Written here: these few lines do not warrant a library dependency.
std::optional<std::string> base64_decoded(std::string_view text)
{
    for (int i = 0; i < 2 && text.ends_with('='); ++i)
        text.remove_suffix(1);
    if (text.size() % 4 == 1)
        return std::nullopt;
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        std::size_t value = base64url_alphabet.find(c);
        if (c == '+' || c == '/')
            value = c == '+' ? 62 : 63;
        if (value == std::string_view::npos)
            return std::nullopt;
        bits = ((bits << 6) | static_cast<unsigned>(value)) & 0xffffu;
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xffu);
        }
    }
    return out;
}

// The value, as written, of the one of the blank-separated parameters that
// the query has with a value. Names are compared as a server may read them
// (escapes decoded, any case), and pairs end at "&" and, as some servers split
// a query, at ";". A name given twice, two of the names given (Google's "q"
// and "url"), or a ";" beside the one found are refused, for the rewriter
// might follow another reading. An empty value does not count (Google's
// search links carry an empty "q" beside "url").
std::optional<std::string> parameter(const link_parts& link, std::string_view names, std::string& why)
{
    const std::string_view query = link.query;
    std::optional<std::string> found;
    std::string_view found_name;
    bool twice = false, semicolon = false;
    any_word(names, [&](std::string_view name) {
        for (std::size_t at = 0; at <= query.size();) {
            const auto separator = [](char c) { return c == '&' || c == ';'; };
            const std::size_t end = std::find_if(query.begin() + at, query.end(), separator) - query.begin();
            const std::string_view pair = query.substr(at, end - at), key = pair.substr(0, pair.find('='));
            const std::string_view value = pair.substr(std::min(key.size() + 1, pair.size()));
            std::string ignored;
            if (!value.empty() && ascii_lower(percent_decoded(key, ignored).value_or(std::string(key))) == name) {
                twice = twice || found;
                found = found.value_or(std::string(value));
                found_name = found_name.empty() ? name : found_name;
                semicolon = semicolon || (at > 0 && query[at - 1] == ';') || (end < query.size() && query[end] == ';');
            }
            at = end + 1;
        }
        return false;
    });
    if (!found || twice)
        why = (twice ? "the parameter given twice: " : "no parameter ") +
              replace_all(names, " ", twice ? " and " : " or ");
    else if (semicolon)
        why = "a \";\" beside the parameter " + std::string(found_name);
    return twice || semicolon ? std::nullopt : found;
}

using decoder = std::optional<std::string> (*)(const link_parts& link, std::string_view names, std::string& why);

std::optional<std::string> decode_parameter(const link_parts& link, std::string_view names, std::string& why)
{
    const std::optional<std::string> value = parameter(link, names, why);
    return value ? percent_decoded(*value, why) : std::nullopt;
}

// Percent escapes first, then the HTML entities the oldest form left in.
std::optional<std::string> decode_with_entities(const link_parts& link, std::string_view names, std::string& why)
{
    std::optional<std::string> text = decode_parameter(link, names, why);
    if (!text)
        return std::nullopt;
    constexpr std::pair<std::string_view, std::string_view> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
    for (const auto& [entity, character] : entities)
        *text = replace_all(*text, entity, character);
    return text;
}

// "-" stands for "%" and "_" for "/".
std::optional<std::string> decode_dashed(const link_parts& link, std::string_view names, std::string& why)
{
    std::optional<std::string> value = parameter(link, names, why);
    if (!value)
        return std::nullopt;
    std::replace(value->begin(), value->end(), '-', '%');
    std::replace(value->begin(), value->end(), '_', '/');
    return percent_decoded(*value, why);
}

// "/v3/__<link>__;<token>!<signature>": each "*" of the link stands for one
// character of the decoded token, "**X" for 2 to 65 of them (X from the URL
// alphabet), and the token is used up exactly. The stars are filled before the
// percent escapes are decoded; a server may decode first, so an escaped star
// or a star inside an escape would read another way. The browser sends no
// "#" and nothing after it.
std::optional<std::string> decode_marked(const link_parts& link, std::string_view, std::string& why)
{
    const std::string_view sent = std::string_view(link.rest).substr(0, link.rest.find('#'));
    const std::string_view body = sent.substr(6);  // behind "/v3/__"
    const std::size_t end = body.find("__;");
    if (end == std::string_view::npos || body.find("__;", end + 1) != std::string_view::npos) {
        why = "not one end marker \"__;\"";
        return std::nullopt;
    }
    const std::string_view marked = body.substr(0, end), after = body.substr(end + 3);
    for (std::size_t at = marked.find('%'); at != std::string_view::npos; at = marked.find('%', at + 1))
        if (ascii_lower(marked.substr(at, 3)) == "%2a" ||
            marked.substr(at + 1, 2).find('*') != std::string_view::npos) {
            why = "an escaped star or a star inside an escape";
            return std::nullopt;
        }
    const std::optional<std::string> token = base64_decoded(after.substr(0, after.find('!')));
    if (!token || !is_valid_utf8(*token)) {
        why = "a bad token";
        return std::nullopt;
    }
    std::string filled;
    std::size_t taken = 0;
    for (std::size_t i = 0; i < marked.size(); ++i) {
        if (marked[i] != '*') {
            filled += marked[i];
            continue;
        }
        std::size_t count = 1;
        if (i + 2 < marked.size() && marked[i + 1] == '*' &&
            base64url_alphabet.find(marked[i + 2]) != std::string_view::npos) {
            count = base64url_alphabet.find(marked[i + 2]) + 2;
            i += 2;
        }
        // Characters, not bytes: a UTF-8 sequence is taken whole.
        for (; count > 0; --count) {
            if (taken >= token->size()) {
                why = "the token is too short";
                return std::nullopt;
            }
            const auto lead = static_cast<unsigned char>((*token)[taken]);
            const std::size_t length = lead < 0x80 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
            filled += token->substr(taken, length);
            taken += length;
        }
    }
    if (taken != token->size()) {
        why = "the token is too long";
        return std::nullopt;
    }
    return percent_decoded(filled, why);
}

// "/<token>/<link>" and no more path, which a server could read another way.
std::optional<std::string> decode_last_segment(const link_parts& link, std::string_view, std::string& why)
{
    const std::string_view path = link.written_path;
    const std::size_t second = path.find('/', 1);
    if (second == std::string_view::npos || second == 1 || path.find('/', second + 1) != std::string_view::npos) {
        why = "not /<token>/<link>";
        return std::nullopt;
    }
    if (second + 1 == path.size()) {
        why = "an empty last path segment";
        return std::nullopt;
    }
    return percent_decoded(path.substr(second + 1), why);
}

std::optional<std::string> decode_base64_parameter(const link_parts& link, std::string_view names, std::string& why)
{
    const std::optional<std::string> value = decode_parameter(link, names, why);
    if (!value)
        return std::nullopt;
    std::optional<std::string> decoded = base64_decoded(*value);
    if (!decoded)
        why = "bad base64";
    return decoded;
}

struct rewriter {
    const char* name;
    const char* hosts;       // blank-separated; "*.name": every host below name
    const char* paths;       // blank-separated; a trailing "*" takes any rest
    const char* parameters;  // the query parameters tried in order, for decoders that read one
    decoder decode;
};

// The rewriters whose links are unwrapped. Mimecast is missing on purpose:
// its links carry an opaque token, the original only Mimecast knows.
const rewriter rewriters[] = {
    {"Safe Links", "*.safelinks.protection.outlook.com *.safelinks.protection.office365.us", "/", "url",
     decode_parameter},
    {"Safe Links", "outlook.office.com", "/mail/safelink.html", "url", decode_parameter},
    {"Safe Links (Teams)",
     "statics.teams.cdn.office.net staticsint.teams.cdn.office.net teams.public.onecdn.static.microsoft",
     "/evergreen-assets/safelinks/1/atp-safelinks.html /evergreen-assets/safelinks/2/atp-safelinks.html", "url",
     decode_parameter},
    {"URL Defense v1", "urldefense.proofpoint.com", "/v1/url", "u", decode_with_entities},
    {"URL Defense v2", "urldefense.proofpoint.com", "/v2/url", "u", decode_dashed},
    {"URL Defense v3", "urldefense.com urldefense.us", "/v3/__*", "", decode_marked},
    {"Google redirect", "www.google.com", "/url", "q url", decode_parameter},
    {"Cisco Secure Email", "secure-web.cisco.com", "/*", "", decode_last_segment},
    {"Barracuda", "linkprotect.cudasvc.com", "/url", "a", decode_parameter},
    {"Sophos Central", "*.protection.sophos.com", "/", "u", decode_base64_parameter},
    {"Trend Micro", "*.trendmicro.com", "/wis/clicktime/v1/query /wis/clicktime/v2/clickthrough", "url",
     decode_parameter},
    {"Symantec ClickTime", "clicktime.symantec.com", "/*", "u", decode_parameter},
};

const rewriter* find_rewriter(const link_parts& link)
{
    for (const rewriter& row : rewriters)
        if (host_listed(row.hosts, link.host) && path_listed(row.paths, link.path))
            return &row;
    return nullptr;
}

// Why an inner link cannot be taken, or none.
std::optional<std::string> inner_link_fault(std::string_view link)
{
    if (!is_valid_utf8(link))
        return "the inner link is not UTF-8";
    for (std::size_t i = 0; i < link.size(); ++i) {
        const auto byte = static_cast<unsigned char>(link[i]);
        // C0, DEL, and C1 (U+0080 to U+009F: C2 80 to C2 9F).
        if (byte < 0x20 || byte == 0x7f ||
            (byte == 0xc2 && i + 1 < link.size() && static_cast<unsigned char>(link[i + 1]) < 0xa0))
            return "the inner link holds a control character";
    }
    if (!split_link(link))
        return "the inner link is not an absolute http or https link";
    // A browser reads it, too: after the rewriter's redirect, or when opened.
    std::optional<std::string> change;
    read_as_browser(link, change);
    if (change)
        return "the inner link holds " + *change;
    return std::nullopt;
}

// The inner link as a browser writes a link it has parsed, so that no byte of
// it can end a command-line argument or the quotes around one, whether or not
// safe_browser_arguments is set: blanks, quotes and the other characters a
// browser escapes become escapes. Bytes from 0x80 on stay: the inner link is
// UTF-8 (checked above), the local browser receives it as UTF-16 and the
// viewer's hand-off escapes it itself, so "straße" arrives as it was written
// (and a long link is not cut three times as soon).
std::string written_as_browser(std::string_view link)
{
    constexpr std::string_view escaped = " \"<>\\^`{|}", hex_digits = "0123456789ABCDEF";
    std::string out;
    for (const char c : link) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || escaped.find(c) != std::string_view::npos)
            out += {'%', hex_digits[byte >> 4], hex_digits[byte & 0x0f]};
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string browser_form(std::string_view link)
{
    std::optional<std::string> change;
    return read_as_browser(link, change);
}

std::optional<std::string> rewriter_of(std::string_view link)
{
    const std::optional<link_parts> parts = split_link(link);
    const rewriter* row = parts ? find_rewriter(*parts) : nullptr;
    return row ? std::optional<std::string>(row->name) : std::nullopt;
}

unwrapped_link unwrap_link(std::string_view link, int mode)
{
    unwrapped_link result{mode, std::string(link), {}, {}, std::string(link), std::string(link)};
    if (mode != 1 && mode != 2)
        return result;
    // A link that a browser sends otherwise than written is taken off by
    // neither reading, whichever of the two is a rewriter's: the rewriter gets
    // the one, the lookup would use the other. Each inner link is checked the
    // same way when it is found (inner_link_fault).
    std::optional<std::string> change;
    const std::string sent = read_as_browser(link, change);
    std::string current(link);
    for (std::size_t depth = 0;; ++depth) {
        const std::optional<link_parts> parts = split_link(current);
        const rewriter* row = parts ? find_rewriter(*parts) : nullptr;
        if (!row && depth == 0 && change)
            if (const std::optional<link_parts> sent_parts = split_link(sent))
                row = find_rewriter(*sent_parts);
        if (!row)
            break;
        std::string why;
        std::optional<std::string> inner;
        if (depth == 0 && change)
            why = *change;
        else if (depth == unwrap_layer_limit)
            why = "more than " + std::to_string(unwrap_layer_limit) + " layers";
        else if (parts->user_name)
            why = "a user name";
        else if (idna_host(parts->host))
            why = "a host name a browser maps by IDNA";
        else if (!default_port(*parts))
            why = "a port other than the scheme's";
        else if ((inner = row->decode(*parts, row->parameters, why)))
            if (const std::optional<std::string> fault = inner_link_fault(*inner))
                why = *fault, inner.reset();
        if (!inner) {
            result.left_as_is = std::string(row->name) + ": " + why;
            return result;
        }
        result.layers.push_back({row->name, *inner});
        current = std::move(*inner);
    }
    if (!result.layers.empty()) {
        result.lookup = current;
        if (mode == 2)
            result.opened = written_as_browser(current);
    }
    return result;
}

std::optional<unwrap_record> unwrap_record_of(const unwrapped_link& link)
{
    if (link.mode != 1 && link.mode != 2)
        return std::nullopt;
    if (link.left_as_is)
        return unwrap_record{false,
                             "unwrap_links: the link looks wrapped but is left as it came (" + *link.left_as_is + ")"};
    if (link.layers.empty())
        return std::nullopt;
    std::string names;
    for (const unwrap_layer& layer : link.layers)
        names += (names.empty() ? "" : " > ") + layer.rewriter;
    if (link.mode == 1)
        return unwrap_record{true, "unwrap_links=1: unwrapped " + names + "; the rule lookup uses " + link.lookup +
                                       ", the wrapped link is opened"};
    return unwrap_record{true, "unwrap_links=2: unwrapped " + names + "; " + link.lookup + " is looked up and opened" +
                                   (link.opened == link.lookup ? "" : " as " + link.opened)};
}
