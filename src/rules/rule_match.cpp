// The rule line format and the pattern language. Text in, text out, plus the
// reading of an already opened rule file; nothing here needs Win32.
#include "url_rules.h"

#include <cstring>
#include <new>
#include <vector>

#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"

namespace {

constexpr char default_separator = '|';

// A rule file is read in pieces of at most this many bytes; the rest of a
// longer line comes as the next piece and counts as a rule line of its own.
constexpr std::size_t line_piece_bytes = 4094;
// The file is read in blocks of this size, many lines at a time.
constexpr std::size_t piece_block_bytes = 65536;

[[noreturn]] void out_of_memory()
{
    fatal_error(1, L"Die URL-Listen konnten nicht eingelesen werden. Der Arbeitsspeicher ist voll.",
                event_kind::rule_memory);
}

std::string_view drop_prefix(std::string_view text, std::string_view prefix)
{
    if (starts_with(text, prefix))
        text.remove_prefix(prefix.size());
    return text;
}

// One "https://" and then one "http://", as for the URL, so that a rule written
// with or without a scheme matches URLs of either scheme.
std::string_view strip_scheme(std::string_view text)
{
    return drop_prefix(drop_prefix(text, "https://"), "http://");
}

bool consists_only_of(std::string_view text, std::string_view allowed)
{
    return text.find_first_not_of(allowed) == std::string_view::npos;
}

// Hands out a rule file's pieces as fgets with a buffer of line_piece_bytes
// + 1 would: up to and including a line feed, at most line_piece_bytes bytes
// (the stream's own text mode turns CR LF into LF, as for fgets).
struct piece_reader {
    const block_reader& read;
    std::vector<char>& block;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool at_end = false;
};

bool next_piece(piece_reader& reader, std::string_view& piece)
{
    for (;;) {
        const char* data = reader.block.data() + reader.begin;
        std::size_t available = reader.end - reader.begin;
        std::size_t size = available < line_piece_bytes ? available : line_piece_bytes;
        if (const void* line_feed = std::memchr(data, '\n', size))
            size = static_cast<std::size_t>(static_cast<const char*>(line_feed) - data) + 1;
        else if (available < line_piece_bytes && !reader.at_end)
            size = 0;  // the piece may go on in the next block
        if (size > 0 || (reader.at_end && available > 0)) {
            piece = std::string_view(data, size > 0 ? size : available);
            reader.begin += piece.size();
            return true;
        }
        if (reader.at_end)
            return false;
        std::memmove(reader.block.data(), data, available);
        reader.begin = 0;
        reader.end = available;
        std::size_t read = reader.read(reader.block.data() + available, reader.block.size() - available);
        reader.end += read;
        reader.at_end = read == 0;
    }
}

const char* or_null(const std::optional<std::string>& text)
{
    return text ? text->c_str() : "(null)";
}

}  // namespace

std::optional<std::string> get_field(std::string_view text, char separator, unsigned n)
{
    if (separator == 0)
        separator = default_separator;
    try {
        std::size_t start = 0;
        for (unsigned field = 0; field < n; ++field) {
            std::size_t end = text.find(separator, start);
            if (end == std::string_view::npos) {
                LOG_UTILS(LOG_WARN,
                          "%s: couldn't reach field %u in %s (this isn't necessarily bad). "
                          "Not enough fields separated by '%c'?",
                          "get_field", n, std::string(text).c_str(), separator);
                return std::nullopt;
            }
            start = end + 1;
        }
        std::string field(text.substr(start, text.find(separator, start) - start));
        LOG_UTILS(LOG_TRACE, "%s: read field %u: <%s>", "get_field", n, field.c_str());
        return field;
    } catch (const std::bad_alloc&) {
        out_of_memory();
    }
}

rule_match parse_rule_line(std::string_view line)
{
    rule_match rule;
    rule.url_expr = get_field(line, default_separator, 0).value_or(std::string());
    // Only an absent destination means "local"; a present but empty one stays
    // empty, and the dispatch rejects it.
    rule.dest = get_field(line, default_separator, 1).value_or("local");
    rule.browser = get_field(line, default_separator, 2);
    rule.browser_profile = get_field(line, default_separator, 3);
    return rule;
}

std::string normalise_url(std::string_view url, bool strict_host)
{
    std::string lower = ascii_lower(url);
    if (strict_host)
        return std::string(lower.starts_with("https://") ? drop_prefix(lower, "https://")
                                                         : drop_prefix(lower, "http://"));
    return std::string(strip_scheme(lower));
}

namespace {

// label_bound: "*." matches nothing only where the star begins the pattern or
// follows a ".", so that "www*.example.com" never takes "wwwexample.com".
bool match_pattern(std::string_view pattern, std::string_view url, bool label_bound)
{
    std::size_t p = 0;
    std::size_t u = 0;
    for (;;) {
        if (p == pattern.size())
            return consists_only_of(url.substr(u), "/");
        if (u == url.size())
            return consists_only_of(pattern.substr(p), "/*");
        if (pattern[p] != '*') {
            if (pattern[p] != url[u])
                return false;
            ++p;
            ++u;
            continue;
        }
        const bool at_label = p == 0 || pattern[p - 1] == '.';
        p = pattern.find_first_not_of('*', p);
        if (p == std::string_view::npos)
            return true;  // a trailing star takes the whole rest of the URL
        std::size_t segment_end = pattern.find('*', p);
        if (segment_end == std::string_view::npos)
            segment_end = pattern.size();
        std::string_view segment = pattern.substr(p, segment_end - p);
        // The first occurrence is taken, never a later one: no backtracking.
        std::size_t found = url.find(segment, u);
        if (found != std::string_view::npos) {
            u = found + segment.size();
        } else if (segment.front() == '.' && (at_label || !label_bound) &&
                   url.substr(u).starts_with(segment.substr(1))) {
            // "*.example.com" also covers "example.com" itself.
            u += segment.size() - 1;
        } else {
            return false;
        }
        p = segment_end;
    }
}

}  // namespace

bool match_url_expr(std::string_view pattern, std::string_view url)
{
    return match_pattern(pattern, url, false);
}

bool match_host_expr(std::string_view pattern, std::string_view host)
{
    return match_pattern(pattern, host, true);
}

std::string_view rule_pattern(std::string_view lower_url_expr)
{
    std::string_view pattern = strip_scheme(lower_url_expr);
    if (!pattern.empty() && pattern.back() == '/')
        pattern.remove_suffix(1);
    return pattern;
}

namespace {

template <class link_type, class match_function>
pattern_take pattern_takes(std::string_view pattern, const link_type& url, match_function match)
{
    if (match(pattern, url))
        return pattern_take::as_written;
    if (pattern.size() >= 3 && pattern.ends_with("/*") && match(pattern.substr(0, pattern.size() - 2), url))
        return pattern_take::without_slash_star;
    return pattern_take::none;
}

}  // namespace

pattern_take rule_pattern_takes(std::string_view pattern, std::string_view url, bool strict_host)
{
    return pattern_takes(pattern, url, strict_host ? match_url_expr_strict : match_url_expr);
}

pattern_take strict_pattern_takes(std::string_view pattern, const strict_link& link)
{
    if (!strict_host_may_match(pattern, link))
        return pattern_take::none;
    return pattern_takes(pattern, link, match_strict_link);
}

namespace {

// The lookup over a rule file's pieces, whichever way they are read.
template <class next_piece_function>
std::optional<rule_hit> find_rule_in_pieces(std::string_view url, bool strict_host, next_piece_function next)
{
    std::string_view piece;
    std::string lowered;  // one buffer for every line
    // Line numbers count the file's lines; the pieces of a long line share one.
    int line_number = 0;
    // strict_host_match=1: the link read as a browser reads its host, once for every rule.
    const std::optional<std::string> strict_form = strict_host ? strict_link_host_form(url) : std::nullopt;
    const strict_link strict_parts = strict_form ? split_strict_link(*strict_form) : strict_link{};
    bool at_line_start = true;
    while (next(piece)) {
        line_number += at_line_start ? 1 : 0;
        at_line_start = piece.back() == '\n';
        // As a C string: the line ends at a NUL byte.
        std::string_view line = trim(piece.substr(0, piece.find('\0')));
        if (line.empty() || line.front() == '#')
            continue;

        // The match needs only the pattern; the whole rule is parsed (and its
        // records written) when it matches or when its records go anywhere.
        lowered.assign(line);
        for (char& c : lowered)
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        const std::string_view pattern =
            rule_pattern(std::string_view(lowered).substr(0, lowered.find(default_separator)));
        const pattern_take take = !strict_host  ? rule_pattern_takes(pattern, url)
                                  : strict_form ? strict_pattern_takes(pattern, strict_parts)
                                                : pattern_take::none;
        if (take == pattern_take::none && !log_wanted(LOG_TRACE) && !log_wanted(LOG_WARN))
            continue;

        rule_match rule = parse_rule_line(lowered);
        LOG_ENVIRONMENT(LOG_TRACE, " --> url_expr: <%s>", rule.url_expr.c_str());
        LOG_ENVIRONMENT(LOG_TRACE, " --> dest: <%s>", rule.dest.c_str());
        LOG_ENVIRONMENT(LOG_TRACE, " --> browser: <%s>", or_null(rule.browser));
        LOG_ENVIRONMENT(LOG_TRACE, " --> browser_profile: <%s>", or_null(rule.browser_profile));
        LOG_ENVIRONMENT(LOG_TRACE, "Read line from whitelist: %s", std::string(pattern).c_str());
        if (take == pattern_take::as_written)
            return rule_hit{std::move(rule), line_number, std::string(line)};
        if (pattern.size() >= 3) {
            LOG_ENVIRONMENT(LOG_TRACE, "final chars: %s", std::string(pattern.substr(pattern.size() - 2)).c_str());
            if (take == pattern_take::without_slash_star)
                return rule_hit{std::move(rule), line_number, std::string(line)};
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<rule_hit> find_rule_in_blocks(std::string_view url, const block_reader& read, bool strict_host)
{
    std::vector<char> block(piece_block_bytes);
    piece_reader reader{read, block};
    return find_rule_in_pieces(url, strict_host,
                               [&reader](std::string_view& piece) { return next_piece(reader, piece); });
}

std::optional<rule_hit> find_rule_in_file(std::string_view url, FILE* file, bool strict_host)
{
    return find_rule_in_blocks(
        url, [file](char* buffer, std::size_t size) { return std::fread(buffer, 1, size, file); }, strict_host);
}

std::size_t text_mode_reader::operator()(char* out, std::size_t size)
{
    std::size_t produced = 0;
    raw_block.resize(size);
    // A lone CR held back from the last block may need the room of one byte.
    while (produced == 0 && !ended && size > 1) {
        const std::size_t got = raw(raw_block.data(), size - 1);
        if (got == 0) {
            ended = true;
            if (pending_cr)
                out[produced++] = '\r';
            break;
        }
        const char* in = raw_block.data();
        // A Ctrl-Z ends the text; up to it, runs without a CR are copied whole.
        const char* const end = static_cast<const char*>(std::memchr(in, '\x1a', got));
        const char* const stop = end ? end : in + got;
        ended = end != nullptr;
        while (in < stop) {
            if (pending_cr && *in != '\n')
                out[produced++] = '\r';
            pending_cr = false;
            const void* cr = std::memchr(in, '\r', static_cast<std::size_t>(stop - in));
            const char* const run_end = cr ? static_cast<const char*>(cr) : stop;
            std::memcpy(out + produced, in, static_cast<std::size_t>(run_end - in));
            produced += static_cast<std::size_t>(run_end - in);
            in = run_end;
            if (cr) {
                pending_cr = true;
                ++in;
            }
        }
        if (ended && pending_cr)
            out[produced++] = '\r';
    }
    return produced;
}

std::string rule_text_as_read(std::string_view bytes)
{
    bytes = bytes.substr(0, bytes.find('\x1a'));
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = bytes.find("\r\n", at);
        if (end == std::string_view::npos)
            end = bytes.size();
        text.append(bytes.substr(at, end - at));
        if (end < bytes.size())
            text += '\n';
        at = end + 2;
    }
    return text;
}

bool has_rule_lines(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string_view::npos ? text.size() : end + 1;
        const std::string_view line = trim(text.substr(at, end - at));
        if (!line.empty() && line.front() != '#')
            return true;
        at = end;
    }
    return false;
}

std::optional<rule_match> scan_rule_file(std::string_view url, FILE* file, bool strict_host)
{
    std::optional<rule_hit> hit = find_rule_in_file(url, file, strict_host);
    if (!hit)
        return std::nullopt;
    return std::move(hit->rule);
}
