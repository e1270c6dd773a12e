// Reading ostrilo.cfg and the viewer settings (kvix.vnc, else kvix.cfg).
// Every request reads the file afresh; nothing is cached here.
#include <cstdio>
#include <cstring>

#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "run_context.h"
#include "unique_resource.h"

namespace {

// One piece of a line: fgets keeps at most 4094 bytes of it; the rest of a
// longer line comes as the next piece and counts as a line of its own.
constexpr int line_buffer_size = 4095;

const char* const default_product_name = "Corvane-Pro";

std::optional<std::string> get_ostrilo_config_value(run_context& run, std::string_view key)
{
    print_to_stdout("Looking for ostrilo config file (ostrilo.cfg)\n");
    const std::optional<std::string> path = find_ostrilo_cfg(run);
    if (!path) {
        return std::nullopt;
    }
    return get_config_value(key, *path);
}

// The hardening keys are read without records or printed lines of their own,
// so that a run without them writes what it wrote before they existed. Read
// once per run; on only for the exact value "1" (or up to highest: "2", ...).
std::optional<std::string> quiet_config_value(const run_context& run, std::string_view key)
{
    const std::optional<std::string> path = find_ostrilo_cfg_quietly(run);
    if (!path) {
        return std::nullopt;
    }
    const unique_file file(std::fopen(path->c_str(), "r"));
    char line[line_buffer_size];
    while (file && std::fgets(line, line_buffer_size, file.get())) {
        const auto pair = split_config_line(std::string_view(line, std::strlen(line)));
        if (pair && keys_equal(pair->first, key)) {
            return pair->second;
        }
    }
    return std::nullopt;
}

int hardening_key(const run_context& run, std::string_view key, int highest)
{
    const std::optional<std::string> value = quiet_config_value(run, key);
    const bool known = value && value->size() == 1 && (*value)[0] >= '1' && (*value)[0] < '1' + highest;
    return known ? (*value)[0] - '0' : 0;
}

// The key's value as the run keeps it, read on the first request.
int hardening_key_once(const run_context& run, std::optional<int>& kept, std::string_view key, int highest = 1)
{
    if (!kept) {
        kept = hardening_key(run, key, highest);
    }
    return *kept;
}

}  // namespace

int get_safe_browser_arguments(run_context& run)
{
    return hardening_key_once(run, run.keys.safe_browser_arguments, "safe_browser_arguments");
}

int get_strict_host_match(run_context& run)
{
    return hardening_key_once(run, run.keys.strict_host_match, "strict_host_match");
}

int get_strict_command_line(run_context& run)
{
    return hardening_key_once(run, run.keys.strict_command_line, "strict_command_line");
}

int get_settings_page(run_context& run)
{
    return hardening_key_once(run, run.keys.settings_page, "settings_page");
}

int get_unwrap_links(run_context& run)
{
    return hardening_key_once(run, run.keys.unwrap_links, "unwrap_links", 2);
}

int get_whitelist_copy(run_context& run)
{
    return hardening_key_once(run, run.keys.whitelist_copy, "whitelist_copy");
}

int get_event_log(run_context& run)
{
    return hardening_key_once(run, run.keys.event_log, "event_log", 2);
}

unsigned long get_whitelist_timeout_ms(run_context& run)
{
    if (!run.keys.whitelist_timeout_ms) {
        run.keys.whitelist_timeout_ms =
            milliseconds_value(quiet_config_value(run, "whitelist_timeout_ms").value_or(""));
    }
    return *run.keys.whitelist_timeout_ms;
}

std::optional<std::string> get_config_value(std::string_view key, const std::string& path)
{
    const unique_file file(std::fopen(path.c_str(), "r"));
    if (!file) {
        LOG_ENVIRONMENT(LOG_WARN, "Couldn't find key.");
        return std::nullopt;
    }
    const std::string wanted(key);
    LOG_ENVIRONMENT(LOG_TRACE, "Looking for key '%s' in config file '%s'", wanted.c_str(), path.c_str());

    char line[line_buffer_size];
    while (std::fgets(line, line_buffer_size, file.get())) {
        // A NUL byte read from the file ends the line, as for any C string.
        const auto pair = split_config_line(std::string_view(line, std::strlen(line)));
        if (!pair || !keys_equal(pair->first, wanted)) {
            continue;
        }
        LOG_ENVIRONMENT(LOG_TRACE, "I found the key '%s': '%s'", wanted.c_str(), pair->second.c_str());
        return pair->second;
    }
    LOG_ENVIRONMENT(LOG_WARN, "Couldn't find key.");
    return std::nullopt;
}

std::optional<std::string> get_whitelist_path(run_context& run)
{
    return get_ostrilo_config_value(run, "whitelist_path");
}

int get_lotus_notes_html_workaround(run_context& run)
{
    // On only for the exact value "1"; "10", "true" or "yes" leave it off.
    const std::optional<std::string> value = get_ostrilo_config_value(run, "lotus_notes_html_workaround");
    return value && *value == "1" ? 1 : 0;
}

std::optional<std::string> get_local_browser_bin(run_context& run)
{
    return get_ostrilo_config_value(run, "local_browser_bin");
}

std::optional<std::string> get_local_firefox(run_context& run)
{
    return get_ostrilo_config_value(run, "local_firefox");
}

std::optional<std::string> get_local_chrome(run_context& run)
{
    return get_ostrilo_config_value(run, "local_chrome");
}

std::optional<std::string> get_local_edge(run_context& run)
{
    return get_ostrilo_config_value(run, "local_edge");
}

std::optional<std::string> get_local_ie(run_context& run)
{
    return get_ostrilo_config_value(run, "local_ie");
}

std::string get_product_name(run_context& run)
{
    const std::optional<std::string> own = get_ostrilo_config_value(run, "product_name");
    if (own && !own->empty()) {
        return *own;
    }
    print_to_stdout("%s: Couldn't get product name from ostrilo.cfg. Trying kvix.vnc...\n", "get_product_name");
    const std::optional<std::string> viewer = get_viewer_config_value(run, "ProductName");
    if (viewer && !viewer->empty()) {
        return *viewer;
    }
    print_to_stdout("%s: Couldn't get product name from kvix.vnc. Using default product name 'Corvane-Pro'\n",
                    "get_product_name");
    return default_product_name;
}

std::optional<std::string> get_viewer_config_value(run_context& run, std::string_view key)
{
    // kvix.cfg counts only when there is no kvix.vnc at all, even when
    // kvix.vnc lacks the key.
    if (const std::optional<std::string> vnc = find_kvix_vnc(run)) {
        return get_config_value(key, *vnc);
    }
    if (const std::optional<std::string> cfg = find_kvix_cfg(run)) {
        return get_config_value(key, *cfg);
    }
    LOG_ENVIRONMENT(LOG_WARN, "I did not find the kvix config file.");
    return std::nullopt;
}

std::string get_product_name_from_config_file(run_context& run)
{
    std::optional<std::string> path = find_kvix_vnc(run);
    if (!path) {
        path = find_kvix_cfg(run);
    }
    if (!path) {
        LOG_ENVIRONMENT(LOG_WARN, "I did not find the kvix config file.");
    } else if (std::optional<std::string> name = get_config_value("ProductName", *path); name && !name->empty()) {
        return *name;
    }
    LOG_ENVIRONMENT(LOG_WARN,
                    "%s: Couldn't get product name from kvix config files. Using default product name 'Corvane-Pro'",
                    "get_product_name_from_config_file");
    return default_product_name;
}
