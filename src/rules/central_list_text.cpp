// whitelist_url as Ostrilo reads it, the redirects it follows, and the texts
// of its cache. Text in, text out; no Win32.
#include "central_list.h"

#include <algorithm>
#include <charconv>

#include "nb_utils.h"

namespace {

constexpr std::string_view site_note_prefix = "# from the <site> at byte ";

bool holds_control_or_blank(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
            return true;
    return false;
}

// A decimal number from 0 to maximum, without a sign or a leading zero.
bool plain_number(std::string_view digits, unsigned maximum)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return !digits.empty() && error == std::errc() && end == digits.data() + digits.size() && value <= maximum &&
           (digits.size() == 1 || digits.front() != '0');
}

// 127.0.0.0/8 in four decimal parts, or [::1]: addresses that never leave the
// machine, whatever the name resolution or a proxy would do with a name.
bool loopback_host(std::string_view host)
{
    if (host == "[::1]")
        return true;
    if (!host.starts_with("127."))
        return false;
    int parts = 0;
    for (std::size_t at = 0; at <= host.size(); ++parts) {
        const std::size_t dot = std::min(host.find('.', at), host.size());
        if (!plain_number(host.substr(at, dot - at), 255))
            return false;
        at = dot + 1;
    }
    return parts == 4;
}

// The host (and port) of an http(s) URL after its scheme, up to the path.
std::string_view authority_of(std::string_view rest)
{
    return rest.substr(0, std::min(rest.find_first_of("/?#"), rest.size()));
}

// A file: URL's path decoded: %XX as bytes, "/" as "\"; none when it is not
// UTF-8 or holds a control character.
std::optional<std::string> decoded_path(std::string_view text)
{
    std::string path;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::optional<char> escaped = escaped_byte(text, i);
        const char c = escaped.value_or(text[i]);
        i += escaped ? 2 : 0;
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return std::nullopt;
        path += c == '/' ? '\\' : c;
    }
    if (!is_valid_utf8(path))
        return std::nullopt;
    return path;
}

bool drive_path(std::string_view path)
{
    const char d = path.empty() ? 0 : static_cast<char>(path[0] | 0x20);
    return path.size() > 3 && d >= 'a' && d <= 'z' && (path[1] == ':' || path[1] == '|') && path[2] == '/';
}

const char file_forms[] =
    "a file: URL names a share (file://server/share/list.xml) or a local file (file:///C:/list.xml)";

// file://server/share/..., file:////server/share/..., file:///C:/...,
// file://localhost/C:/... as Edge takes them.
central_url_reading read_file_url(std::string_view value)
{
    std::string_view rest = value.substr(5);
    if (!rest.starts_with("//"))
        return {std::nullopt, file_forms};
    rest.remove_prefix(2);
    if (ascii_lower(rest.substr(0, 10)) == "localhost/")
        rest.remove_prefix(9);
    std::string_view local = rest.starts_with('/') ? rest.substr(1) : std::string_view();
    std::string path;
    if (drive_path(local)) {
        std::string drive(local.substr(0, 3));
        drive[1] = ':';
        path = drive + std::string(local.substr(3));
    } else {
        // A share: server and share name, then the file.
        const std::string_view share = rest.starts_with("//") ? rest.substr(2) : rest;
        const std::size_t server_end = share.find('/'), share_end = share.find('/', server_end + 1);
        if (rest.starts_with('/') && !rest.starts_with("//"))
            return {std::nullopt, file_forms};
        if (server_end == 0 || server_end == std::string_view::npos || share_end == std::string_view::npos ||
            share_end == server_end + 1 || share_end + 1 == share.size())
            return {std::nullopt, file_forms};
        path = "//" + std::string(share);
    }
    const std::optional<std::string> decoded = decoded_path(path);
    if (!decoded)
        return {std::nullopt, "the file: URL's path is not UTF-8 or holds a control character"};
    return {central_url{central_scheme::file, std::string(value), *decoded}, ""};
}

}  // namespace

central_url_reading read_central_url(std::string_view value)
{
    const std::string lower = ascii_lower(value.substr(0, 8));
    if (lower.starts_with("file:"))
        return read_file_url(value);
    const bool https = lower == "https://", http = lower.starts_with("http://");
    if (!https && !http)
        return {std::nullopt, "not an https:// URL, a file: URL or an http:// URL of a loopback address"};
    if (holds_control_or_blank(value))
        return {std::nullopt, "it holds a blank or a control character"};
    const std::string_view rest = value.substr(https ? 8 : 7), authority = authority_of(rest);
    const std::string_view host =
        authority.substr(0, authority.starts_with('[') ? authority.find(']') + 1 : authority.find(':'));
    if (authority.find('@') != std::string_view::npos)
        return {std::nullopt, "a user name or password in the URL is not taken"};
    if (host.empty())
        return {std::nullopt, "it names no host"};
    if (http) {
        const std::string_view port = authority.substr(host.size());
        if (!loopback_host(host) || (!port.empty() && !(port.starts_with(':') && plain_number(port.substr(1), 65535))))
            return {std::nullopt, "http:// only to a loopback address (127.0.0.0/8, [::1]); use https://"};
    }
    return {central_url{https ? central_scheme::https : central_scheme::loopback_http, std::string(value), ""}, ""};
}

std::optional<std::string> redirect_target(std::string_view from, std::string_view location)
{
    const std::string lower = ascii_lower(location.substr(0, 8));
    if (lower.starts_with("https://") || lower.starts_with("http://"))
        return std::string(location);
    if (location.empty() || location.find(':') < location.find_first_of("/?#"))
        return std::nullopt;  // another scheme
    const std::size_t scheme_end = from.find("://");
    if (scheme_end == std::string_view::npos)
        return std::nullopt;
    if (location.starts_with("//"))
        return std::string(from.substr(0, scheme_end + 1)) + std::string(location);
    const std::size_t path_at = scheme_end + 3 + authority_of(from.substr(scheme_end + 3)).size();
    if (location.starts_with('/'))
        return std::string(from.substr(0, path_at)) + std::string(location);
    // Relative to the path's folder, without the query.
    const std::string_view path = from.substr(path_at, from.substr(path_at).find_first_of("?#"));
    return std::string(from.substr(0, path_at)) + std::string(path.substr(0, path.rfind('/') + 1)) +
           (path.empty() ? "/" : "") + std::string(location);
}

std::string kept_validator(std::string_view value)
{
    if (value.size() > 512)
        return "";
    for (const char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
            return "";
    return std::string(value);
}

std::string central_attempt_text(const central_attempt& attempt)
{
    return "source: " + attempt.source + "\r\nresult: " + quoted_text(attempt.result, 400) +
           "\r\nok: " + (attempt.ok ? "yes" : "no") + "\r\n";
}

std::optional<central_attempt> parse_central_attempt(std::string_view text)
{
    central_attempt attempt;
    std::string_view fields[3];
    const std::string_view names[3] = {"source: ", "result: ", "ok: "};
    for (std::string_view& field : fields) {
        const std::size_t end = text.find("\r\n");
        const std::string_view line = text.substr(0, end);
        const std::string_view& name = names[&field - fields];
        if (end == std::string_view::npos || !line.starts_with(name))
            return std::nullopt;
        field = line.substr(name.size());
        text.remove_prefix(end + 2);
    }
    attempt.source = fields[0];
    attempt.result = fields[1];
    attempt.ok = fields[2] == "yes";
    return attempt;
}

std::string central_site_note(std::size_t site_offset)
{
    return std::string(site_note_prefix) + std::to_string(site_offset) + " of the list";
}

std::optional<std::string> central_site_of_line(std::string_view rules, int line)
{
    // A site's rule lines follow its note at once.
    std::optional<std::string> note;
    for (int number = 1; number < line && !rules.empty(); ++number) {
        const std::string_view text = rules.substr(0, rules.find('\n'));
        if (text.starts_with(site_note_prefix))
            note = std::string(text.substr(7));  // without "# from "
        else if (text.starts_with('#'))
            note.reset();
        rules.remove_prefix(std::min(text.size() + 1, rules.size()));
    }
    return note;
}

std::size_t count_rule_lines(std::string_view text)
{
    std::size_t rules = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = trim(text.substr(at, end - at));
        rules += !line.empty() && line.front() != '#';
        at = end + 1;
    }
    return rules;
}
