// The rule-file linter. Each file is read the way Ostrilo reads it (pieces of
// at most 4094 bytes in text mode, cut at a NUL byte, trimmed, lower-cased),
// split with parse_rule_line and judged with match_url_expr, so a finding is
// about what the program does, not about what the line seems to say.
#include "lint.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "kvix_environment.h"
#include "nb_utils.h"
#include "url_rules.h"

namespace {

// The line buffer of the rule file reader holds this many bytes of a line.
constexpr std::size_t piece_bytes = 4094;
constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";
constexpr std::string_view underscore_name = "url_whitelist.txt";
constexpr std::string_view blank_name = "url whitelist.txt";
// The browsers a local rule can name; any other name opens the link as a rule
// without a browser does (local_browser_bin, else Internet Explorer).
constexpr std::string_view local_browsers[] = {"", "firefox", "chrome", "edge", "ie"};
// Host names a sender of links controls, for the impersonation examples.
constexpr std::string_view foreign_host = "evil.example";

// One rule as Ostrilo reads it, with where it stands.
struct read_rule {
    std::size_t file;
    int line;
    int column;           // of the rule's first byte
    std::string written;  // trimmed, as in the file
    rule_match rule;
    bool dead = false;  // can never match (a byte order mark in front)
};

struct file_state {
    const rule_file_text* text;  // none: the same file again, read once
    bool consulted = true;       // false: its rules never match (not read, UTF-16)
};

std::string excerpt(std::string_view text)
{
    constexpr std::size_t shown = 40;
    return text.size() <= shown ? std::string(text) : std::string(text.substr(0, shown)) + "...";
}

// The pattern as the reader compares it: without scheme and one trailing "/".
std::string effective_pattern(const rule_match& rule)
{
    return std::string(rule_pattern(ascii_lower(rule.url_expr)));
}

// Whether the rule file reader takes this rule for the normalised URL.
bool rule_takes(std::string_view pattern, std::string_view url)
{
    return rule_pattern_takes(pattern, url) != pattern_take::none;
}

std::size_t trailing_slashes(std::string_view text)
{
    std::size_t count = 0;
    while (count < text.size() && text[text.size() - 1 - count] == '/')
        ++count;
    return count;
}

std::string_view before_star(std::string_view pattern)
{
    return pattern.substr(0, std::min(pattern.find('*'), pattern.size()));
}

// The text every URL a pattern takes begins with, but for a few prefixes of it
// followed only by "/" (see takes_all_of).
std::string_view fixed_beginning(std::string_view pattern)
{
    if (pattern.size() >= 3 && pattern.ends_with("/*"))
        return before_star(pattern.substr(0, pattern.size() - 2));
    return before_star(pattern);
}

// True when the earlier pattern takes every URL the later one takes. Sound,
// not complete: when unsure it says no.
//
// Every URL the later pattern takes either begins with its text before the
// first "*" (for the "/*" retry, before the first "*" of the shortened
// pattern), or is a prefix of that text followed only by "/" characters,
// which is a short list tried one by one. An earlier pattern that ends in "*"
// and whose pieces all occur, one after the other, inside that leading text
// takes every URL that begins with it: each piece is found at the same place.
bool takes_all_of(std::string_view earlier, std::string_view later)
{
    if (earlier == later)
        return true;
    if (earlier.empty() || earlier.back() != '*')
        return false;

    std::string_view lead = before_star(later);
    std::string_view must_begin = fixed_beginning(later);

    std::size_t pos = 0;
    std::size_t start = 0;
    bool first = true;
    while (start <= earlier.size()) {
        std::size_t star = earlier.find('*', start);
        if (star == std::string_view::npos)
            break;
        std::string_view piece = earlier.substr(start, star - start);
        if (first) {
            if (!must_begin.starts_with(piece))
                return false;
            pos = piece.size();
            first = false;
        } else if (!piece.empty()) {
            std::size_t found = must_begin.find(piece, pos);
            if (found == std::string_view::npos)
                return false;
            pos = found + piece.size();
        }
        start = star + 1;
    }

    for (std::string_view text : {lead, must_begin}) {
        std::string bare(text.substr(0, text.size() - trailing_slashes(text)));
        for (std::size_t k = 0; k < trailing_slashes(text); ++k) {
            if (!rule_takes(earlier, bare + std::string(k, '/')))
                return false;
        }
    }
    return true;
}

// The host of a normalised URL as a browser reads it.
std::string_view host_of(std::string_view url)
{
    std::string_view host = url.substr(0, std::min(url.find_first_of("/?#\\"), url.size()));
    if (std::size_t at = host.rfind('@'); at != std::string_view::npos)
        host.remove_prefix(at + 1);
    return host.substr(0, std::min(host.find(':'), host.size()));
}

// A link of someone else's site that a local rule with "*" in or before its
// host still takes, and whether it needs the "*" to run across a "/"; none
// when no such link was found.
std::optional<std::pair<std::string, bool>> foreign_link(std::string_view pattern)
{
    std::size_t slash = std::min(pattern.find('/'), pattern.size());
    std::size_t star = pattern.find('*');
    std::string_view host_part = pattern.substr(0, slash);
    if (star >= slash || host_part.find_first_not_of('*') == std::string_view::npos)
        return std::nullopt;
    // Inside the host first: that a strict host match does not prevent.
    const std::pair<std::string, bool> fills[] = {{std::string(foreign_host), false},
                                                  {std::string(foreign_host) + "/x", true},
                                                  {std::string(foreign_host) + "/?x", true}};
    for (const auto& [fill, crosses] : fills) {
        std::string link(pattern.substr(0, star));
        link += fill;
        for (char c : pattern.substr(star + 1)) {
            if (c != '*')
                link += c;
        }
        if (rule_takes(pattern, link) && host_of(link).ends_with(foreign_host))
            return std::pair{link, crosses};
    }
    return std::nullopt;
}

// The earlier patterns that end in "*", filed so that a later pattern meets
// only those that can take all of its links: such a pattern's text before its
// first "*" begins the later one's fixed beginning, or, when it begins with
// "*", its first piece occurs in it (filed by at most key_bytes of that piece).
class open_ended_patterns {
public:
    void add(std::size_t rule, std::string_view pattern)
    {
        std::string_view lead = before_star(pattern);
        if (!lead.empty()) {
            by_lead_[lead].push_back(rule);
            return;
        }
        std::size_t from = pattern.find_first_not_of('*');
        if (from == std::string_view::npos) {
            catch_all_ = std::min(catch_all_, rule);
            return;
        }
        std::string_view piece = before_star(pattern.substr(from));
        by_piece_[piece.substr(0, key_bytes)].push_back(rule);
    }

    // The rules that may take all of a pattern with this fixed beginning.
    std::vector<std::size_t> candidates(std::string_view fixed) const
    {
        std::vector<std::size_t> found;
        if (catch_all_ != no_rule)
            found.push_back(catch_all_);
        auto take = [&](const auto& files, std::string_view key) {
            if (auto hit = files.find(key); hit != files.end())
                found.insert(found.end(), hit->second.begin(), hit->second.end());
        };
        for (std::size_t size = 1; size <= fixed.size(); ++size)
            take(by_lead_, fixed.substr(0, size));
        for (std::size_t at = 0; at < fixed.size(); ++at) {
            for (std::size_t size = 1; size <= key_bytes && at + size <= fixed.size(); ++size)
                take(by_piece_, fixed.substr(at, size));
        }
        std::sort(found.begin(), found.end());
        return found;
    }

private:
    static constexpr std::size_t key_bytes = 8;
    static constexpr std::size_t no_rule = static_cast<std::size_t>(-1);
    std::size_t catch_all_ = no_rule;
    std::unordered_map<std::string_view, std::vector<std::size_t>> by_lead_;
    std::unordered_map<std::string_view, std::vector<std::size_t>> by_piece_;
};

bool same_action(const rule_match& a, const rule_match& b)
{
    return a.dest == b.dest && a.browser == b.browser && a.browser_profile == b.browser_profile;
}

std::string folder_of(std::string_view path)
{
    return ascii_lower(path.substr(0, path.find_last_of("\\/") + 1));
}

std::string name_of(std::string_view path)
{
    return ascii_lower(path.substr(path.find_last_of("\\/") + 1));
}

class linter {
public:
    linter(const std::vector<rule_file_text>& files, bool strict_host) : strict_host_(strict_host)
    {
        for (const rule_file_text& file : files)
            files_.push_back({&file});
    }

    std::vector<lint_finding> run()
    {
        mark_files_not_read();
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (files_[i].text)
                read_file(i);
        }
        check_shadowing();
        std::stable_sort(findings_.begin(), findings_.end(), [this](const auto& a, const auto& b) {
            return std::tuple(file_rank_.at(a.file), a.line, a.column) <
                   std::tuple(file_rank_.at(b.file), b.line, b.column);
        });
        return findings_;
    }

private:
    void add(std::size_t file, int line, int column, bool error, std::string text, std::string code)
    {
        findings_.push_back({files_[file].text->path, line, column, error, std::move(text), std::move(code)});
    }

    // The same path twice is read once; of the two names in one folder only
    // the one with the blank is ever read.
    void mark_files_not_read()
    {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const std::string& path = files_[i].text->path;
            file_rank_.emplace(path, i);
            for (std::size_t j = 0; j < i; ++j) {
                if (files_[j].text && ascii_lower(files_[j].text->path) == ascii_lower(path)) {
                    files_[i].text = nullptr;
                    break;
                }
            }
            if (!files_[i].text || name_of(path) != underscore_name)
                continue;
            for (const file_state& other : files_) {
                if (other.text && folder_of(other.text->path) == folder_of(path) &&
                    name_of(other.text->path) == blank_name) {
                    files_[i].consulted = false;
                    add(i, 1, 1, true,
                        "never read: '" + other.text->path +
                            "' is in the same folder and only that file is read; move these rules into it",
                        "unread-file");
                    break;
                }
            }
        }
    }

    void read_file(std::size_t file)
    {
        std::string_view content = files_[file].text->content;
        std::size_t nuls = std::count(content.begin(), content.end(), '\0');
        if (content.starts_with("\xFF\xFE") || content.starts_with("\xFE\xFF") ||
            (content.size() >= 2 && nuls * 4 >= content.size())) {
            add(file, 1, 1, true,
                "the file is UTF-16; the rules are read byte by byte and none of them matches; "
                "save it as UTF-8 without BOM",
                "utf16");
            files_[file].consulted = false;
            return;
        }
        int line = 1;
        for (std::size_t start = 0; start <= content.size(); ++line) {
            std::size_t end = std::min(content.find('\n', start), content.size());
            std::string_view text = content.substr(start, end - start);
            if (end < content.size() && text.ends_with('\r'))
                text.remove_suffix(1);  // text mode reads CR LF as LF
            for (std::size_t offset = 0; offset == 0 || offset < text.size(); offset += piece_bytes)
                read_piece(file, line, offset, text.substr(offset, piece_bytes));
            if (end == content.size())
                break;
            start = end + 1;
        }
    }

    void read_piece(std::size_t file, int line, std::size_t offset, std::string_view piece)
    {
        int column = static_cast<int>(offset) + 1;
        bool bom = line == 1 && offset == 0 && piece.starts_with(utf8_bom);
        if (bom) {
            piece.remove_prefix(utf8_bom.size());
            column += static_cast<int>(utf8_bom.size());
        }
        if (std::size_t nul = piece.find('\0'); nul != std::string_view::npos) {
            std::string_view lost = piece.substr(nul);
            bool loses_text = lost.find_first_not_of(std::string_view(" \t\r\0", 4)) != std::string_view::npos;
            add(file, line, column + static_cast<int>(nul), loses_text,
                "NUL byte: the line is read only up to here; remove it", "nul-byte");
            piece = piece.substr(0, nul);
        }
        if (std::size_t cr = piece.find('\r'); cr != std::string_view::npos) {
            std::string_view lost = piece.substr(cr + 1);
            for (std::size_t from = 0; from <= lost.size();) {
                std::size_t to = std::min(lost.find('\r', from), lost.size());
                std::string_view part = trim(lost.substr(from, to - from));
                if (!part.empty() && part.front() != '#') {
                    add(file, line, column + static_cast<int>(cr), true,
                        "carriage return without line feed: the rest of the line ('" + excerpt(part) +
                            "') is not read; save the file with CR LF or LF line ends",
                        "cr-line-end");
                    break;
                }
                from = to + 1;
            }
        }
        std::string_view written = trim(piece);
        if (written.empty() || written.front() == '#')
            return;
        column += static_cast<int>(written.data() - piece.data());
        if (offset > 0) {
            add(file, line, column, true,
                "the line is longer than 4094 bytes; from here on it is read as a rule of its own ('" +
                    excerpt(written) + "'); shorten the line",
                "long-line");
        }
        read_rule rule{file, line, column, std::string(written), parse_rule_line(ascii_lower(written))};
        if (bom) {
            rule.dead = true;
            add(file, line, 1, true,
                "a UTF-8 byte order mark stands before the first rule, which therefore never matches; "
                "save the file without BOM",
                "utf8-bom");
        }
        check_fields(rule);
        if (files_[file].consulted)
            rules_.push_back(std::move(rule));
    }

    void check_fields(const read_rule& r)
    {
        std::vector<std::size_t> starts{0};  // where each field begins in the line
        for (std::size_t bar = r.written.find('|'); bar != std::string::npos; bar = r.written.find('|', bar + 1))
            starts.push_back(bar + 1);
        auto field_column = [&](std::size_t field) { return r.column + static_cast<int>(starts[field]); };

        // Blanks in the pattern or the destination break the rule; in the
        // browser or profile they only hand on a different name.
        std::optional<std::size_t> first_blank;
        bool breaks = false;
        std::string fixed;
        for (std::size_t field = 0; field < starts.size(); ++field) {
            std::size_t end = field + 1 < starts.size() ? starts[field + 1] - 1 : r.written.size();
            std::string_view text = std::string_view(r.written).substr(starts[field], end - starts[field]);
            std::size_t lead = std::min(text.find_first_not_of(" \t"), text.size());
            std::size_t tail = text.size() - std::min(text.find_last_not_of(" \t") + 1, text.size());
            if (lead > 0 || tail > 0) {
                if (!first_blank)
                    first_blank = lead > 0 ? starts[field] : end - tail;
                breaks = breaks || field <= 1;
            }
            if (field > 0)
                fixed += '|';
            fixed += trim(text);
        }
        bool blanks = first_blank.has_value();
        if (blanks) {
            add(r.file, r.line, r.column + static_cast<int>(*first_blank), breaks,
                "blanks next to '|' are part of the field; write '" + fixed + "'", "blank-around-bar");
        }

        const rule_match& rule = r.rule;
        bool local = rule.dest == "local";
        if (!local && rule.dest != "remote" &&
            !(blanks && (trim(rule.dest) == "local" || trim(rule.dest) == "remote"))) {
            add(r.file, r.line, field_column(1), true,
                rule.dest.empty() ? "empty destination: it does not mean 'local', and no link is opened for this rule; "
                                    "write 'local' or 'remote'"
                                  : "destination '" + rule.dest +
                                        "' is neither 'local' nor 'remote': no link is opened for this rule",
                "bad-destination");
        }
        if (local && rule.browser &&
            std::find(std::begin(local_browsers), std::end(local_browsers), *rule.browser) ==
                std::end(local_browsers) &&
            !blanks) {
            add(r.file, r.line, field_column(2), false,
                "unknown browser '" + *rule.browser +
                    "': the link opens as under a rule without a browser (local_browser_bin, else Internet Explorer); "
                    "use firefox, chrome, edge or ie, or leave it empty",
                "unknown-browser");
        }
        if (local && rule.browser_profile && !rule.browser_profile->empty()) {
            add(r.file, r.line, field_column(3), false,
                "a profile has no effect on a local rule; remove '" + *rule.browser_profile + "'", "ignored-field");
        }
        if (starts.size() > 4 && starts[4] < r.written.size()) {
            add(r.file, r.line, field_column(4), false,
                "fields after the fourth are ignored; remove '" + r.written.substr(starts[4] - 1) + "'",
                "ignored-field");
        }
        if (local && !r.dead) {
            if (auto link = foreign_link(effective_pattern(rule)); link && !(strict_host_ && link->second)) {
                add(r.file, r.line, r.column, false,
                    link->second
                        ? "the '*' before the host lets a path or query pose as that host: https://" + link->first +
                              " opens locally too; name the hosts without '*', or set strict_host_match=1 "
                              "in ostrilo.cfg"
                        : "the '*' in the host also takes other sites: https://" + link->first +
                              " opens locally too; name the hosts without '*'",
                    "spoofable-host");
            }
        }
    }

    void check_shadowing()
    {
        std::vector<std::string> patterns;
        for (const read_rule& r : rules_)
            patterns.push_back(effective_pattern(r.rule));
        std::unordered_map<std::string_view, std::size_t> first_with;  // identical patterns
        open_ended_patterns open_ended;
        for (std::size_t later = 0; later < rules_.size(); ++later) {
            if (rules_[later].dead)
                continue;
            std::optional<std::size_t> earlier;
            if (auto same = first_with.find(patterns[later]); same != first_with.end())
                earlier = same->second;
            for (std::size_t candidate : open_ended.candidates(fixed_beginning(patterns[later]))) {
                if (earlier && *earlier < candidate)
                    break;
                if (takes_all_of(patterns[candidate], patterns[later]))
                    earlier = candidate;
            }
            if (earlier) {
                const read_rule& a = rules_[*earlier];
                const read_rule& b = rules_[later];
                std::string where = a.file == b.file ? "line " + std::to_string(a.line)
                                                     : files_[a.file].text->path + ":" + std::to_string(a.line);
                bool same = same_action(a.rule, b.rule);
                add(b.file, b.line, b.column, !same,
                    "never reached: " + where + " ('" + a.written + "') takes every link this rule takes" +
                        (same ? " to the same place; remove this line" : "; put this rule before that one"),
                    "shadowed");
            }
            // A rule that is never reached still tells of the links it takes.
            first_with.emplace(patterns[later], later);
            if (patterns[later].ends_with('*'))
                open_ended.add(later, patterns[later]);
        }
    }

    bool strict_host_;
    std::vector<file_state> files_;
    std::unordered_map<std::string, std::size_t> file_rank_;
    std::vector<read_rule> rules_;
    std::vector<lint_finding> findings_;
};

}  // namespace

std::vector<lint_finding> lint_rule_files(const std::vector<rule_file_text>& files, bool strict_host)
{
    return linter(files, strict_host).run();
}

std::optional<std::string> key_behind_bom(std::string_view content)
{
    if (!content.starts_with(utf8_bom))
        return std::nullopt;
    // The reader's first piece: the first line, at most 4094 bytes, up to a NUL.
    std::string_view first = content.substr(0, std::min(content.find('\n'), piece_bytes));
    first = first.substr(0, first.find('\0'));
    const auto pair = split_config_line(first);
    if (!pair)
        return std::nullopt;
    return std::string(trim(std::string_view(pair->first).substr(utf8_bom.size())));
}

std::vector<lint_finding> lint_config_file(const rule_file_text& file)
{
    const std::optional<std::string> key = key_behind_bom(file.content);
    if (!key)
        return {};
    return {{file.path, 1, 1, true,
             "a UTF-8 byte order mark stands before the first key '" + *key +
                 "', which Ostrilo therefore never knows; save the file without BOM, or begin it with a line "
                 "without '='",
             "cfg-utf8-bom"}};
}

std::string format_finding(const lint_finding& finding)
{
    return finding.file + ":" + std::to_string(finding.line) + ":" + std::to_string(finding.column) + ": " +
           (finding.error ? "error" : "warning") + ": " + finding.text + " [" + finding.code + "]";
}

int lint_exit_status(const std::vector<lint_finding>& findings)
{
    int status = 0;
    for (const lint_finding& finding : findings)
        status = std::max(status, finding.error ? 2 : 1);
    return status;
}
