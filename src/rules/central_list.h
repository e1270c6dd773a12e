// whitelist_url: the central rule list, fetched over HTTPS or read from a
// file: URL, in Ostrilo's rule format or as an Enterprise Mode Site List. It
// is kept for the user in a cache in %LOCALAPPDATA%\Ostrilo ("central
// list.txt": the header of url_rules.h's central_list form, then the rules
// after conversion), and every link decides by that cache, first, its rules
// always matched by host (strict_host_match). After the link is handed on,
// the run fetches the list anew when the cache is older than
// whitelist_refresh_minutes; only a run without a usable cache fetches it
// before deciding, for at most whitelist_timeout_ms (5,000 ms when unset).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

struct run_context;
struct rule_decision;
enum class lookup_mode;

// --- Text in, text out (central_list_text.cpp) ---
enum class central_scheme { https, loopback_http, file };
struct central_url {
    central_scheme scheme = central_scheme::https;
    std::string url;   // as written
    std::string path;  // file: the file's Windows path (UNC or drive letter), UTF-8
};
// The value of whitelist_url read, or why it is refused.
struct central_url_reading {
    std::optional<central_url> url;
    std::string refusal;
};
central_url_reading read_central_url(std::string_view value);
// The absolute URL a redirect's Location leads to from `from`, or none.
std::optional<std::string> redirect_target(std::string_view from, std::string_view location);
// A validator of the server's (ETag, Last-Modified) as the cache header keeps
// it: printable ASCII of at most 512 bytes, else "" (none).
std::string kept_validator(std::string_view value);

// The last refresh of a URL, kept in the lock file beside the cache (its
// last-write time is the refresh's time).
struct central_attempt {
    std::string source;
    std::string result;  // "304 not modified", "HTTP 500 Internal Server Error", ...
    bool ok = false;
};
std::string central_attempt_text(const central_attempt& attempt);
std::optional<central_attempt> parse_central_attempt(std::string_view text);

// The note the cache carries before the rules of each site of a site list,
// and the <site> a rule line came from by it ("the <site> at byte N of the
// list"), or none.
std::string central_site_note(std::size_t site_offset);
std::optional<std::string> central_site_of_line(std::string_view rules, int line);
// The lines of rules that are neither blank nor a comment.
std::size_t count_rule_lines(std::string_view rules);

// --- The list served, as the cache keeps it (central_convert.cpp; it needs
// the site-list conversion, library ostrilo_sitelist) ---
struct central_conversion {
    bool ok = false;
    std::string format;     // "rules" or "site list"
    std::string body;       // the cache's rules
    std::size_t rules = 0;  // its rule lines
    std::string error;      // why the list is refused as a whole
};
// A list whose root element is <site-list> is converted as import-sitelist
// --strict-host converts it, with the note of its <site> before each site's
// rules; any other is taken as rule lines, once no line of it could be read
// as anything but what it says.
central_conversion convert_central_list(std::string_view bytes);

// --- The cache (central_cache.cpp, Win32) ---
struct central_cache {
    std::string path;  // UTF-8; empty without a local folder
    bool present = false;
    std::string format, time, etag, last_modified;
    std::size_t rules_bytes = 0;
    // Why it is not used: damaged, of another URL, cannot be read; none when usable.
    std::optional<std::string> unusable;
    bool damaged = false;
    long long age_seconds = 0;  // since it was fetched or last found current
};
// The cache of url: its header and length checked, and its checksum too with
// verify or when its time is not the stamp Ostrilo gave it.
central_cache read_central_cache(const central_url& url, bool verify, std::string* rules = nullptr);
std::string central_lock_path();
// The last refresh of this URL and its age in seconds, or none.
std::optional<std::pair<central_attempt, long long>> last_central_attempt(const std::string& url);
// The whitelist_url in force when it is one Ostrilo takes (none without the key or for a refused value).
std::optional<central_url> central_url_in_force(run_context& run);
// The lookup's first step: the link looked up in the cache (a match goes into
// the decision); false when nothing there matched or there is no usable cache.
bool consult_central_list(run_context& run, rule_decision& decision, std::string_view url, lookup_mode mode);

// --- Fetching (central_refresh.cpp, Win32 with WinHTTP; library ostrilo_central) ---
// Before the lookup: writes the ERROR record of a refused whitelist_url, and
// without a usable cache fetches the list, bounded by whitelist_timeout_ms.
void prepare_central_list(run_context& run);
// After the hand-off: refreshes the cache when it is due.
void refresh_central_list(run_context& run);
// ostrilo-admin status --refresh: fetches now, whatever the cache's age.
struct central_refresh_report {
    bool ran = false;  // false: another run is refreshing, or no local folder
    bool ok = false;
    std::string result;
    std::string old_rules, new_rules;
};
central_refresh_report refresh_central_list_now(run_context& run);
