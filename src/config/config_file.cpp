// Reading ostrilo.cfg and the viewer settings (kvix.vnc, else kvix.cfg), and
// each key of the key table in force: its policy value (policy.cpp), else
// ostrilo.cfg, else its default. The keys as old as the program read the file
// afresh on every request; the quietly read ones are kept in the run.
#include <cstdio>
#include <cstring>

#include "config_keys.h"
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

// Every accessor names a row of the key table.
const config_key& row(std::string_view name)
{
    return *find_config_key(name);
}

// The opt-in keys are read without records or printed lines of their own, so
// that a run without them writes what it wrote before they existed: the
// first line of the run's ostrilo.cfg with the key, its file and line (a piece
// of a longer line counts as a line of its own, as the reader takes it).
std::optional<key_value> quiet_file_value(const run_context& run, const config_key& key)
{
    const std::optional<std::string> path = find_ostrilo_cfg_quietly(run);
    if (!path) {
        return std::nullopt;
    }
    const unique_file file(std::fopen(path->c_str(), "r"));
    char line[line_buffer_size];
    for (int number = 1; file && std::fgets(line, line_buffer_size, file.get()); ++number) {
        const auto pair = split_config_line(std::string_view(line, std::strlen(line)));
        if (pair && keys_equal(pair->first, key.name)) {
            const bool numeric = key.kind != key_kind::text && key.kind != key_kind::path;
            return key_value{numeric ? std::string() : pair->second, numeric ? file_number(key, pair->second) : 0,
                             key_source::file, *path, number};
        }
    }
    return std::nullopt;
}

// A quietly read key as the run keeps it, read on the first request.
const key_value& quiet_key(run_context& run, std::string_view name)
{
    const config_key& key = row(name);
    std::vector<std::optional<key_value>>& kept = run.keys.kept;
    kept.resize(config_keys().size());
    std::optional<key_value>& value = kept[key_index(key)];
    if (!value) {
        value = key_in_force(run, key);
    }
    return *value;
}

int quiet_number(run_context& run, std::string_view name)
{
    return static_cast<int>(quiet_key(run, name).number);
}

// A key read with its records: the policy value, else ostrilo.cfg afresh.
std::optional<std::string> recorded_text(run_context& run, std::string_view name)
{
    if (const std::optional<key_value>& policy = policy_value(run, row(name))) {
        return policy->text;
    }
    return get_ostrilo_config_value(run, name);
}

}  // namespace

key_value key_in_force(run_context& run, const config_key& key)
{
    if (const std::optional<key_value>& policy = policy_value(run, key)) {
        return *policy;
    }
    if (std::optional<key_value> file = quiet_file_value(run, key)) {
        return *std::move(file);
    }
    if (std::optional<key_value> installation = installation_value(key)) {
        return *std::move(installation);
    }
    return key_value{std::string(), key.fallback, key_source::fallback, std::string(), 0};
}

std::string key_source_text(const key_value& value)
{
    switch (value.source) {
        case key_source::machine_policy:
            return "machine policy";
        case key_source::user_policy:
            return "user policy";
        case key_source::file:
            return value.file + ":" + std::to_string(value.line);
        case key_source::installation:
            return "MSI property (" + value.file + ")";
        case key_source::fallback:
            break;
    }
    return "default";
}

int get_safe_browser_arguments(run_context& run)
{
    return quiet_number(run, "safe_browser_arguments");
}

int get_strict_host_match(run_context& run)
{
    return quiet_number(run, "strict_host_match");
}

int get_strict_command_line(run_context& run)
{
    return quiet_number(run, "strict_command_line");
}

int get_settings_page(run_context& run)
{
    return quiet_number(run, "settings_page");
}

int get_unwrap_links(run_context& run)
{
    return quiet_number(run, "unwrap_links");
}

int get_whitelist_copy(run_context& run)
{
    return quiet_number(run, "whitelist_copy");
}

int get_event_log(run_context& run)
{
    return quiet_number(run, "event_log");
}

unsigned long get_whitelist_timeout_ms(run_context& run)
{
    return quiet_key(run, "whitelist_timeout_ms").number;
}

std::optional<std::string> get_whitelist_url(run_context& run)
{
    const key_value& value = quiet_key(run, "whitelist_url");
    if (value.source == key_source::fallback)
        return std::nullopt;
    return value.text;
}

unsigned long get_whitelist_refresh_minutes(run_context& run)
{
    return quiet_key(run, "whitelist_refresh_minutes").number;
}

int get_log(run_context& run)
{
    const config_key& key = row("log");
    if (const std::optional<key_value>& policy = policy_value_unrecorded(run, key)) {
        return static_cast<int>(policy->number);
    }
    const std::optional<key_value> file = quiet_file_value(run, key);
    return static_cast<int>(file ? file->number : key.fallback);
}

int get_default_browser_prompt(run_context& run)
{
    return quiet_number(run, "default_browser_prompt");
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
    return recorded_text(run, "whitelist_path");
}

int get_lotus_notes_html_workaround(run_context& run)
{
    const config_key& key = row("lotus_notes_html_workaround");
    if (const std::optional<key_value>& policy = policy_value(run, key)) {
        return static_cast<int>(policy->number);
    }
    // On only for the exact value "1"; "10", "true" or "yes" leave it off.
    const std::optional<std::string> value = get_ostrilo_config_value(run, key.name);
    return static_cast<int>(value ? file_number(key, *value) : key.fallback);
}

std::optional<std::string> get_local_browser_bin(run_context& run)
{
    return recorded_text(run, "local_browser_bin");
}

std::optional<std::string> get_local_firefox(run_context& run)
{
    return recorded_text(run, "local_firefox");
}

std::optional<std::string> get_local_chrome(run_context& run)
{
    return recorded_text(run, "local_chrome");
}

std::optional<std::string> get_local_edge(run_context& run)
{
    return recorded_text(run, "local_edge");
}

std::optional<std::string> get_local_ie(run_context& run)
{
    return recorded_text(run, "local_ie");
}

std::string get_product_name(run_context& run)
{
    const std::optional<std::string> own = recorded_text(run, "product_name");
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
