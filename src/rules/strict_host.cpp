// Strict host matching (ostrilo.cfg: strict_host_match=1): the host of a link
// is found and normalised the way a browser does it, and the host part of a
// pattern is compared with that host only. Text in, text out; no Win32.
#include "url_rules.h"

#include <algorithm>
#include <string>

#include "nb_utils.h"

namespace {

// Characters a browser never lets stand in a host, also when they arrive
// percent-encoded.
constexpr std::string_view forbidden_in_host = "/?#\\@: %<>[]^|\"";

// Percent escapes decoded, letters lower-cased, one trailing dot dropped; none
// when the decoded host holds a character no host can have.
std::optional<std::string> normalise_host_name(std::string_view host)
{
    std::string decoded;
    for (std::size_t i = 0; i < host.size(); ++i) {
        const std::optional<char> escaped = escaped_byte(host, i);
        const char c = escaped.value_or(host[i]);
        i += escaped ? 2 : 0;
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x21 || byte == 0x7f || forbidden_in_host.find(c) != std::string_view::npos)
            return std::nullopt;
        decoded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (!decoded.empty() && decoded.back() == '.')
        decoded.pop_back();
    return decoded;
}

// The same split for a pattern (views into it).
strict_link split_at_host(std::string_view text)
{
    strict_link parts;
    // A plain loop: find_first_of asks memchr once per byte, which a scan of 100,000 rules feels.
    std::size_t end = 0;
    while (end < text.size() && text[end] != '/' && text[end] != '?' && text[end] != '#')
        ++end;
    std::string_view authority = text.substr(0, end);
    parts.rest = text.substr(end);
    if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        parts.port = authority.substr(colon + 1);
        authority = authority.substr(0, colon);
    }
    parts.host = authority;
    return parts;
}

// A quick no before the match: the text after the host pattern's last star
// must end the host (less its dot, since "*.example.com" also covers
// "example.com"). Most rules of a long file name other hosts, and this
// answers for them without the match.
bool host_may_match(std::string_view pattern, std::string_view host)
{
    std::string_view tail = pattern.substr(pattern.find_last_of('*') + 1);
    if (tail.size() < pattern.size() && tail.starts_with('.'))
        tail.remove_prefix(1);
    return host.ends_with(tail);
}

}  // namespace

std::optional<std::string> strict_link_host_form(std::string_view url)
{
    // A browser reads "\" as "/" in http(s) links, so it ends the host too.
    std::string text(url);
    for (char& c : text)
        if (c == '\\')
            c = '/';
    const std::size_t end = std::min(text.find_first_of("/?#"), text.size());
    std::string_view authority = std::string_view(text).substr(0, end);
    // What stands before the last "@" is a user name, not the host.
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view port;
    if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        port = authority.substr(colon);
        authority = authority.substr(0, colon);
    }
    const std::optional<std::string> host = normalise_host_name(authority);
    if (!host)
        return std::nullopt;
    return *host + std::string(port) + text.substr(end);
}

strict_link split_strict_link(std::string_view link_form)
{
    return split_at_host(link_form);
}

bool strict_host_may_match(std::string_view pattern, const strict_link& link)
{
    return host_may_match(split_at_host(pattern).host, link.host);
}

bool match_strict_link(std::string_view pattern, const strict_link& have)
{
    strict_link want = split_at_host(pattern);
    // A pattern that is only a host ending in "*" ("*", "intranet.*") keeps
    // its documented reach: the star also takes the port and the whole path.
    const bool open_end = want.rest.empty() && !want.port && !want.host.empty() && want.host.back() == '*';
    if (open_end)
        want.rest = "*";
    if (!match_host_expr(want.host, have.host))
        return false;
    if (want.port ? !have.port || !match_url_expr(*want.port, *have.port) : have.port && !open_end)
        return false;
    return match_url_expr(want.rest, have.rest);
}

bool match_url_expr_strict(std::string_view pattern, std::string_view url)
{
    const std::optional<std::string> link = strict_link_host_form(url);
    return link && match_strict_link(pattern, split_strict_link(*link));
}
