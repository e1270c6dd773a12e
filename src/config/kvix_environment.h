// Configuration files (ostrilo.cfg, kvix.vnc, kvix.cfg) and the search for
// the program's files and folders.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

struct run_context;
struct key_value;
struct config_key;

// --- Key/value lines (text in, text out) ---
// Splits one line (a piece of at most 4094 bytes) into key and value, or none
// when it has no "=", an empty key or an empty value.
std::optional<std::pair<std::string, std::string>> split_config_line(std::string_view line);
bool keys_equal(std::string_view a, std::string_view b);
// The longest whitelist_timeout_ms, in milliseconds.
constexpr unsigned long max_timeout_ms = 600000;

// --- Key/value files and policy values ---
std::optional<std::string> get_config_value(std::string_view key, const std::string& path);
// The value a policy sets for a key, or none. Both policy keys (machine, then
// user) are read at the first request of a run, with one open each; a value
// of the wrong type or out of range is ignored with a WARN record, and each
// value in force gets one DEBUG record. Without policy values: no record.
const std::optional<key_value>& policy_value(run_context& run, const config_key& key);
// The same, read without writing the policy values' records; the first
// policy_value of the run writes them.
const std::optional<key_value>& policy_value_unrecorded(run_context& run, const config_key& key);
// The value the MSI property of a key (config_key::msi_property) gave it, or
// none. Without records.
std::optional<key_value> installation_value(const config_key& key);
// A key's value in force and its source: machine policy, user policy,
// ostrilo.cfg (its path and line), the MSI property, else the default. Read
// without records.
key_value key_in_force(run_context& run, const config_key& key);
// Where a value comes from: "machine policy", "user policy",
// "<path of ostrilo.cfg>:<line>", "MSI property (<registry value>)" or "default".
std::string key_source_text(const key_value& value);
// Each of the following reads its key through the key table (config_keys.h):
// a policy value first; else ostrilo.cfg as the key has always been read.
std::optional<std::string> get_whitelist_path(run_context& run);
int get_lotus_notes_html_workaround(run_context& run);
// Opt-in hardening, each 1 only for the exact value "1" (read quietly, once).
int get_safe_browser_arguments(run_context& run);
int get_strict_host_match(run_context& run);
int get_strict_command_line(run_context& run);
// settings_page=1: -setregistry opens the Default apps page of Settings that
// fits the Windows version (read the same way).
int get_settings_page(run_context& run);
// 0, 1 (the lookup uses the link inside a rewriter's) or 2 (that link is opened too).
int get_unwrap_links(run_context& run);
// Opt-in: keep the last good copy of the whitelist_path file (read quietly, once).
int get_whitelist_copy(run_context& run);
// Opt-in, with whitelist_copy=1: how long the whitelist_path file may take to
// be opened and read before its copy answers; 0 (off) unless the value is a
// whole number from 1 to max_timeout_ms (read quietly, once).
unsigned long get_whitelist_timeout_ms(run_context& run);
// Opt-in: 1 writes the events an administrator acts on to the Application log,
// 2 also one event per routed link (read quietly, once).
int get_event_log(run_context& run);
// Opt-in: the central rule list's URL as written (central_list.h reads it),
// and the minutes after which its cache is refreshed, 5 to 1440 (default 30);
// both read quietly, once.
std::optional<std::string> get_whitelist_url(run_context& run);
unsigned long get_whitelist_refresh_minutes(run_context& run);
// log=1: the log file as with -log. Asked for before the log file is open, so
// read without any record (the policy values' records come later, as ever).
int get_log(run_context& run);
// The Active Setup command's question: 1 (the default) asks the user once
// after the desktop has started to choose Ostrilo as the default browser, 0
// never (read quietly, once).
int get_default_browser_prompt(run_context& run);
std::optional<std::string> get_local_browser_bin(run_context& run);
std::optional<std::string> get_local_firefox(run_context& run);
std::optional<std::string> get_local_chrome(run_context& run);
std::optional<std::string> get_local_edge(run_context& run);
std::optional<std::string> get_local_ie(run_context& run);
std::string get_product_name(run_context& run);
std::optional<std::string> get_viewer_config_value(run_context& run, std::string_view key);
std::string get_product_name_from_config_file(run_context& run);
// The texts built from the product name: the error-box title and the
// viewer-not-found message.
std::wstring make_error_box_title(run_context& run);
std::wstring make_viewer_not_found_text(run_context& run);

// --- Installation and file discovery (found paths cached in the run) ---
std::optional<std::string> find_file_in_folder(std::string_view folder, std::string_view name);
std::optional<std::string> find_ostrilo_cfg(run_context& run);
std::optional<std::string> find_ostrilo_cfg_quietly(const run_context& run);
std::optional<std::string> find_kvix_vnc(run_context& run);
std::optional<std::string> find_kvix_cfg(run_context& run);
std::optional<std::string> find_vncviewer(run_context& run);
const std::string& get_kvix_installpath(run_context& run);
std::string get_selector_installpath();
const std::string& get_appdata_path(run_context& run, int create_vnc);
std::optional<std::string> get_kvix_tempdir(run_context& run);
// Both limited to paths of 8096 wide characters (fatal error beyond).
std::optional<std::wstring> has_kvix_installpath_file(run_context& run, const wchar_t* folder, const wchar_t* subfile);
std::optional<std::wstring> wc_get_installpath_subfile(run_context& run, const wchar_t* subfile);
// Forgets the found file paths and the temporary folder (the shutdown step).
void free_environment(run_context& run);

// The -configdir folder of the narrow command line, with exactly one trailing
// backslash, or none, and the record (level and text) of its reading.
struct configdir_reading {
    std::optional<std::string> folder;
    int level;
    std::string record;
};
configdir_reading read_configdir(const std::string& command_line);
// The same, with its record written.
std::optional<std::string> get_configdir_from_cmdline(const std::string& command_line);

// strict_command_line=1: where a command line of the shape
// <program and switches> -url "<link>" splits. The link is everything from
// behind the first ` -url "` to the last double quote, quotes inside
// included; only blanks and tabs may follow that quote. A line without
// ` -url "` is all head. None for any other shape.
struct strict_command_split {
    std::size_t head_end = 0;
    std::optional<std::pair<std::size_t, std::size_t>> link;  // begin, end
};

template <class Char>
std::optional<strict_command_split> split_strict_command_line(std::basic_string_view<Char> line)
{
    static constexpr Char marker[] = {' ', '-', 'u', 'r', 'l', ' ', '"', 0};
    strict_command_split split;
    const std::size_t at = line.find(marker);
    if (at == std::basic_string_view<Char>::npos) {
        split.head_end = line.size();
        return split;
    }
    const std::size_t begin = at + 7;
    // The marker's own quote is found when the link has no closing one.
    const std::size_t end = line.rfind(Char('"'));
    if (end < begin) {
        return std::nullopt;
    }
    for (const Char c : line.substr(end + 1)) {
        if (c != ' ' && c != '\t') {
            return std::nullopt;
        }
    }
    split.head_end = at;
    split.link = std::make_pair(begin, end);
    return split;
}
