// URL rule files: their format, the pattern language and the lookup order.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

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
bool match_url_expr_strict(std::string_view pattern, std::string_view url);

// --- Rule files ---
std::optional<rule_match> scan_rule_file(std::string_view url, FILE* file, bool strict_host = false);
std::optional<rule_match> is_in_url_whitelist(std::string_view url, const std::optional<std::string>& path);
std::optional<std::string> get_configdir_whitelist(const std::string& dir);
std::optional<std::string> get_global_whitelist();
std::optional<std::string> get_appdata_whitelist();
std::optional<std::string> get_startpath_whitelist();
std::optional<rule_match> find_url_rule(const std::string& url, const std::optional<std::string>& dir);
std::optional<rule_match> lookup_url_rule(const std::string& url);
// Forgets the cached rule file paths (the shutdown step).
void free_rule_file_paths();
