// Where rule files are looked for, and in which order they are consulted.
#include "url_rules.h"

#include <iterator>
#include <utility>

#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"

namespace {

// Tried in this order in every folder; only the first one that exists is read.
constexpr const char* rule_file_names[] = {"url whitelist.txt", "url_whitelist.txt"};

struct rule_file_location {
    const char* first_miss;
    const char* second_miss;
    // The program folder's first miss goes to standard output instead of the log.
    bool first_miss_on_stdout;
};

constexpr rule_file_location configdir_location = {
    "This viewer config dir whitelist file does not exist: %s -- I try another one.",
    "This viewer config dir whitelist does ALSO NOT exist: %s", false};
constexpr rule_file_location global_location = {
    "This global whitelist file does not exist: %s -- I try another one.",
    "This global whitelist does ALSO NOT exist: %s", false};
constexpr rule_file_location appdata_location = {
    "This whitelist file does not exist: %s -- I try another one.",
    "This whitelist does ALSO NOT exist: %s", false};
constexpr rule_file_location startpath_location = {
    "This startpath whitelist file does not exist: %s -- I try another one.\n",
    "This startpath whitelist does ALSO NOT exist: %s", true};

// The path each location found last; kept until its next search or the shutdown.
std::optional<std::string> configdir_rule_file;
std::optional<std::string> global_rule_file;
std::optional<std::string> appdata_rule_file;
std::optional<std::string> startpath_rule_file;

// The folder and the name are always joined with a backslash, also when the
// folder already ends in one (the program folder does); Windows accepts the
// doubled separator.
const std::optional<std::string>& find_rule_file(std::optional<std::string>& cache, const std::string& folder,
                                                 const rule_file_location& location)
{
    cache.reset();
    for (std::size_t i = 0; i < std::size(rule_file_names); ++i) {
        std::string path = folder + "\\" + rule_file_names[i];
        if (file_exists(path)) {
            cache = std::move(path);
            return cache;
        }
        if (i > 0)
            LOG_ENVIRONMENT(LOG_TRACE, location.second_miss, path.c_str());
        else if (location.first_miss_on_stdout)
            print_to_stdout(location.first_miss, path.c_str());
        else
            LOG_ENVIRONMENT(LOG_TRACE, location.first_miss, path.c_str());
    }
    return cache;
}

}  // namespace

std::optional<std::string> get_configdir_whitelist(const std::string& dir)
{
    return find_rule_file(configdir_rule_file, dir, configdir_location);
}

std::optional<std::string> get_global_whitelist()
{
    return find_rule_file(global_rule_file, get_kvix_installpath(), global_location);
}

std::optional<std::string> get_appdata_whitelist()
{
    return find_rule_file(appdata_rule_file, get_appdata_path(1) + "\\vnc", appdata_location);
}

std::optional<std::string> get_startpath_whitelist()
{
    return find_rule_file(startpath_rule_file, program_folder(), startpath_location);
}

std::optional<rule_match> find_url_rule(const std::string& url, const std::optional<std::string>& dir)
{
    if (dir) {
        if (auto rule = is_in_url_whitelist(url, get_configdir_whitelist(*dir)))
            return rule;
    }
    if (auto rule = is_in_url_whitelist(url, get_global_whitelist()))
        return rule;
    if (auto rule = is_in_url_whitelist(url, get_appdata_whitelist()))
        return rule;
    return is_in_url_whitelist(url, get_startpath_whitelist());
}

std::optional<rule_match> lookup_url_rule(const std::string& url)
{
    std::optional<std::string> preset = get_whitelist_path();
    if (preset && !preset->empty()) {
        if (!file_exists(*preset)) {
            // A configured rule file that is missing is an installation fault the
            // user must see; falling back to the folder search would hide it.
            std::wstring message = format_wide_bounded(
                8192, L"Die eingestellte Whitelist-Datei konnte leider nicht gefunden werden:\n\n%ls",
                char_to_wchar(*preset).c_str());
            fatal_error(1, message);
        }
        LOG_OSTRILO(LOG_DEBUG, "Found predefined whitelist path. Checking if url is in whitelist in this file: %s",
                    preset->c_str());
        if (auto rule = is_in_url_whitelist(url, preset))
            return rule;
    }
    LOG_OSTRILO(LOG_DEBUG,
                "No predefined whitelist path (or no match found in it). Looking 'all over the place' "
                "(Program Files, %%appdata%%, next to ostrilo.exe and in -configdir if given)");
    return find_url_rule(url, configdir);
}

void free_rule_file_paths()
{
    configdir_rule_file.reset();
    global_rule_file.reset();
    appdata_rule_file.reset();
    startpath_rule_file.reset();
}
