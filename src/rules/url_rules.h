// URL rule files: their format, the pattern language and the lookup order
// (the decision); route_plan.h turns a decision into what follows.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct run_context;

// A matching rule, all fields in lower case. dest is "local" when the line
// has no destination field; a field present but empty is the empty string.
struct rule_match {
    std::string url_expr;
    std::string dest;
    std::optional<std::string> browser;
    std::optional<std::string> browser_profile;
};

// --- Text in, text out ---
// Field n (from 0) of text split at separator (0 means '|'), or none.
std::optional<std::string> get_field(std::string_view text, char separator, unsigned n);
rule_match parse_rule_line(std::string_view line);
// Lower case, then one "https://" and one "http://" prefix dropped. strict_host:
// only the first of them, as a browser reads "https://http://host/" as a link
// to the host "http", not to "host".
std::string normalise_url(std::string_view url, bool strict_host = false);
bool match_url_expr(std::string_view pattern, std::string_view url);
// strict_host_match=1: the link's host as a browser reads it (user name
// dropped, a backslash read as "/", percent escapes decoded, lower case, no trailing
// dot) followed by the port and the rest, or none when no browser would take
// it as a host. The pattern's host part is then matched with the host alone.
std::optional<std::string> strict_link_host_form(std::string_view url);
// The host part of a pattern against that host: as match_url_expr, but "*."
// matches nothing only at the start of the pattern or behind a ".".
bool match_host_expr(std::string_view pattern, std::string_view host);
bool match_url_expr_strict(std::string_view pattern, std::string_view url);
// The same for the link's strict_link_host_form, split once for all patterns
// (views into it).
struct strict_link {
    std::string_view host;
    std::optional<std::string_view> port;
    std::string_view rest;  // from the first "/", "?" or "#" on
};
strict_link split_strict_link(std::string_view link_form);
bool match_strict_link(std::string_view pattern, const strict_link& link);
// A quick no for a pattern that names another host (with or without a
// trailing "/*"): false only where match_strict_link is false.
bool strict_host_may_match(std::string_view pattern, const strict_link& link);

// The scan of one rule, shared by the lookup and the linter. The pattern of a
// lower-cased first field as the match compares it: without its scheme and
// one trailing "/" (the records keep the field as written).
std::string_view rule_pattern(std::string_view lower_url_expr);
// How a pattern takes a normalised URL: as it stands, or only in the retry
// without a trailing "/*", which lets "*.example.com/*" cover "example.com".
enum class pattern_take { none, as_written, without_slash_star };
pattern_take rule_pattern_takes(std::string_view pattern, std::string_view url, bool strict_host = false);
// With strict_host_match=1, for the link's strict_link_host_form.
pattern_take strict_pattern_takes(std::string_view pattern, const strict_link& link);

// A matching rule with its line number (from 1) and its line as written.
struct rule_hit {
    rule_match rule;
    int line = 0;
    std::string text;
};

// One place a rule file was looked for, in the order of the lookup.
struct rule_place {
    const char* source;  // "whitelist_path", "-configdir", "installation folder", "%APPDATA%\\vnc", ...
    std::string path;
    bool present = false;
};

// What the lookup found for one URL: every place consulted, the matching
// file and rule, or the box text when the lookup stops the run.
struct rule_decision {
    std::vector<rule_place> consulted;
    std::optional<std::string> file;
    std::optional<rule_hit> hit;
    std::optional<std::wstring> stop;
    // strict_host_match=1: a pattern's host part matched the link's host alone.
    bool strict_host = false;
    // whitelist_copy=1: the whitelist_path file could not be read and its copy
    // answered in its place.
    struct copy_answer {
        std::string path, time, error;
        // whitelist_timeout_ms: the file did not answer within this time (0: it failed).
        unsigned long timeout_ms = 0;
    };
    std::optional<copy_answer> from_copy;
    // whitelist_url: the cache of the central list was consulted (its rules
    // matched by host, whatever strict_host_match says).
    struct central_answer {
        std::string url, cache, format, time;
        // A site list's, when explaining: the <site> the matching rule came from.
        std::optional<std::string> site;
    };
    std::optional<central_answer> from_url;
};

// Acting: what Ostrilo.exe does (log records, the stdout line of the program
// folder, creating %APPDATA%\vnc, the fatal box). Explaining: the same order
// and the same files, but no output, no folder created, no box. Listing: as
// explaining, but no file is scanned and both names are tried in every
// folder, so that the places list every rule file there is.
enum class lookup_mode { acting, explaining, listing };

// --- Rule files ---
// A source of a rule file's bytes: fills the buffer, gives how many bytes, 0 at the end.
using block_reader = std::function<std::size_t(char* buffer, std::size_t size)>;

// url is normalised (normalise_url).
// strict_host: the host part of each pattern is matched as with strict_host_match=1.
std::optional<rule_hit> find_rule_in_file(std::string_view url, FILE* file, bool strict_host = false);
std::optional<rule_match> scan_rule_file(std::string_view url, FILE* file, bool strict_host = false);
// Scans the rule file at path (none: nothing to scan) and, on a match,
// puts the file and the rule into the decision. True when it matched.
bool consult_rule_file(rule_decision& decision, std::string_view url, const std::optional<std::string>& path,
                       lookup_mode mode);
// The same for a rule file read from raw blocks (its bytes as on the disk),
// named file in the records and the decision; strict_host: none follows the
// decision's.
bool consult_rule_blocks(rule_decision& decision, std::string_view url, const std::string& file,
                         const block_reader& raw, lookup_mode mode, std::optional<bool> strict_host = std::nullopt);
std::optional<rule_hit> find_rule_in_blocks(std::string_view url, const block_reader& read, bool strict_host = false);
// Gives the bytes of raw as a stream opened in text mode reads them: CR LF
// as LF, and a Ctrl-Z ends the file (raw may go on; it is not read further).
struct text_mode_reader {
    block_reader raw;
    std::vector<char> raw_block = {};
    bool pending_cr = false;
    bool ended = false;
    std::size_t operator()(char* out, std::size_t size);
};
// The same for a whole rule file in memory.
std::string rule_text_as_read(std::string_view bytes);
// True when the text holds a line that is neither blank nor a comment.
bool has_rule_lines(std::string_view text);
std::optional<rule_match> is_in_url_whitelist(std::string_view url, const std::optional<std::string>& path);
// The whole lookup for one URL, with the run's -configdir folder; Ostrilo.exe
// acts on it, ostrilo-admin prints it. strict_host: none follows
// strict_host_match in ostrilo.cfg; ostrilo-admin gives a value to show what
// the key changes for a link.
rule_decision decide_url_rule(run_context& run, const std::string& url, lookup_mode mode,
                              std::optional<bool> strict_host = std::nullopt);
// --- whitelist_copy=1: the last good copy of the whitelist_path file ---
// The copy is a header of "name: value" lines, an empty line, then the
// rule file's bytes as they were read:
//   Ostrilo rule file copy
//   source: <whitelist_path as written in ostrilo.cfg>
//   read: <YYYY-MM-DD HH:MM:SS> UTC
//   length: <bytes, 12 digits>
//   sha256: <64 lower-case hex digits of the bytes>
// The cache of the whitelist_url list (central_list.h) has the same form,
// with its own first line "Ostrilo central rule list" and three more fields:
// "format" after "source", "etag" and "last-modified" after "read".
enum class store_form { whitelist_copy, central_list };
struct rule_copy_header {
    std::string source, time, sha256;
    std::size_t length = 0;
    // The central list's only: "rules" or "site list", and the server's validators ("" for none).
    std::string format = {}, etag = {}, last_modified = {};
};
std::string rule_copy_header_text(const rule_copy_header& header, store_form form = store_form::whitelist_copy);
// The header at the start of text, where the body begins, and what is wrong
// with the copy; complete: text is the whole copy, so its length is checked
// too (the checksum is the caller's: it needs Windows).
struct parsed_rule_copy {
    rule_copy_header header;
    std::size_t body_offset = 0;
    std::optional<std::string> damage;
};
parsed_rule_copy parse_rule_copy(std::string_view text, bool complete = true,
                                 store_form form = store_form::whitelist_copy);

// The copy file: where it is kept (UTF-8; empty when there is no folder for
// it), whether there is one, what it holds, and whether its last-write time
// is still the one Ostrilo gave it.
struct rule_copy {
    std::string path;
    bool present = false;
    parsed_rule_copy parsed;
    std::string text;
    bool stamped = false;
    std::string_view body() const { return std::string_view(text).substr(std::min(parsed.body_offset, text.size())); }
};
// Reads the copy and checks its header and length; with verify, also its
// checksum.
rule_copy read_rule_copy(bool verify);
// The hex SHA-256 of the bytes (empty when Windows cannot compute it).
std::string sha256_hex(std::string_view bytes);
enum class copy_use { answered, unreadable };
// The whitelist_path step with whitelist_copy=1 (not for listing). Answered:
// the file, read whole, or its copy was consulted (a match is in the
// decision, else the folder search follows); unreadable: the file cannot be
// read whole and no copy of it stands in, so the run stops as for a missing
// file. timeout_ms (not 0): whitelist_timeout_ms, the file's open and read
// bounded by it.
copy_use consult_whitelist_with_copy(rule_decision& decision, std::string_view url, const std::string& preset,
                                     lookup_mode mode, unsigned long timeout_ms = 0);
// The text of a system error number: "system error N: <text>".
std::string system_error_text(unsigned long error);
// Whether the file at path holds the copy's rules now: 1 yes, 0 no (also for
// no copy), none when the file cannot be read whole (reason: why not).
std::optional<bool> file_matches_copy(const std::string& path, const rule_copy& copy, std::string& reason);

// Forgets the cached rule file paths (the shutdown step).
void free_rule_file_paths(run_context& run);
