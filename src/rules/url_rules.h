// URL rule files: their format, the pattern language and the lookup order
// (the decision); route_plan.h turns a decision into what follows.
#pragma once

#include <cstdio>
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
// Lower case, then one "https://" and one "http://" prefix dropped.
std::string normalise_url(std::string_view url);
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

// The scan of one rule, shared by the lookup and the linter. The pattern of a
// lower-cased first field as the match compares it: without its scheme and
// one trailing "/" (the records keep the field as written).
std::string_view rule_pattern(std::string_view lower_url_expr);
// How a pattern takes a normalised URL: as it stands, or only in the retry
// without a trailing "/*", which lets "*.example.com/*" cover "example.com".
enum class pattern_take { none, as_written, without_slash_star };
pattern_take rule_pattern_takes(std::string_view pattern, std::string_view url, bool strict_host = false);

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
};

// Acting: what Ostrilo.exe does (log records, the stdout line of the program
// folder, creating %APPDATA%\vnc, the fatal box). Explaining: the same order
// and the same files, but no output, no folder created, no box. Listing: as
// explaining, but no file is scanned and both names are tried in every
// folder, so that the places list every rule file there is.
enum class lookup_mode { acting, explaining, listing };

// --- Rule files ---
// url is normalised (normalise_url).
// strict_host: the host part of each pattern is matched as with strict_host_match=1.
std::optional<rule_hit> find_rule_in_file(std::string_view url, FILE* file, bool strict_host = false);
std::optional<rule_match> scan_rule_file(std::string_view url, FILE* file, bool strict_host = false);
// Scans the rule file at path (none: nothing to scan) and, on a match,
// puts the file and the rule into the decision. True when it matched.
bool consult_rule_file(rule_decision& decision, std::string_view url, const std::optional<std::string>& path,
                       lookup_mode mode);
std::optional<rule_match> is_in_url_whitelist(std::string_view url, const std::optional<std::string>& path);
// The whole lookup for one URL, with the run's -configdir folder; Ostrilo.exe
// acts on it, ostrilo-admin prints it. strict_host: none follows
// strict_host_match in ostrilo.cfg; ostrilo-admin gives a value to show what
// the key changes for a link.
rule_decision decide_url_rule(run_context& run, const std::string& url, lookup_mode mode,
                              std::optional<bool> strict_host = std::nullopt);
// Forgets the cached rule file paths (the shutdown step).
void free_rule_file_paths(run_context& run);
