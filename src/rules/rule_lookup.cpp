// Where rule files are looked for, and in which order they are consulted.
#include "url_rules.h"

#include <cstdlib>
#include <iterator>
#include <vector>
#include <utility>

#include "central_list.h"
#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "run_context.h"
#include "util_log.h"

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
constexpr rule_file_location global_location = {"This global whitelist file does not exist: %s -- I try another one.",
                                                "This global whitelist does ALSO NOT exist: %s", false};
constexpr rule_file_location appdata_location = {"This whitelist file does not exist: %s -- I try another one.",
                                                 "This whitelist does ALSO NOT exist: %s", false};
constexpr rule_file_location startpath_location = {
    "This startpath whitelist file does not exist: %s -- I try another one.\n",
    "This startpath whitelist does ALSO NOT exist: %s", true};

// The folder and the name are always joined with a backslash, also when the
// folder already ends in one (the program folder does); Windows accepts the
// doubled separator. Every name tried goes into places; only acting logs.
const std::optional<std::string>& find_rule_file(std::optional<std::string>& cache, const std::string& folder,
                                                 const rule_file_location& location, const char* source,
                                                 std::vector<rule_place>& places, lookup_mode mode)
{
    cache.reset();
    for (std::size_t i = 0; i < std::size(rule_file_names); ++i) {
        std::string path = folder + "\\" + rule_file_names[i];
        const bool present = file_exists(path);
        places.push_back({source, path, present});
        if (present && mode == lookup_mode::listing) {
            if (!cache)
                cache = std::move(path);
            continue;
        }
        if (present) {
            cache = std::move(path);
            return cache;
        }
        if (mode != lookup_mode::acting)
            continue;
        if (i > 0)
            LOG_ENVIRONMENT(LOG_TRACE, location.second_miss, path.c_str());
        else if (location.first_miss_on_stdout)
            print_to_stdout(location.first_miss, path.c_str());
        else
            LOG_ENVIRONMENT(LOG_TRACE, location.first_miss, path.c_str());
    }
    return cache;
}

// The folder %APPDATA%\vnc; acting creates it (and stops without APPDATA),
// explaining only names it, or gives none without APPDATA.
std::optional<std::string> appdata_rule_folder(run_context& run, lookup_mode mode)
{
    if (mode == lookup_mode::acting)
        return get_appdata_path(run, 1) + "\\vnc";
    if (!std::getenv("APPDATA"))
        return std::nullopt;
    return get_appdata_path(run, 0) + "\\vnc";
}

const wchar_t appdata_missing_text[] = L"Die Systemvariable APPDATA wurde nicht gefunden.";

}  // namespace

rule_decision decide_url_rule(run_context& run, const std::string& url, lookup_mode mode,
                              std::optional<bool> strict_host)
{
    rule_decision decision;
    decision.strict_host = strict_host.value_or(get_strict_host_match(run) == 1);
    const bool acting = mode == lookup_mode::acting;
    const std::optional<std::string>& dir = run.configdir;
    rule_file_paths& cached = run.rule_files;
    // whitelist_url first: its cache, never the network.
    if (mode != lookup_mode::listing && consult_central_list(run, decision, url, mode))
        return decision;
    std::optional<std::string> preset = get_whitelist_path(run);
    const bool with_copy = preset && !preset->empty() && mode != lookup_mode::listing && get_whitelist_copy(run) == 1;
    if (with_copy && consult_whitelist_with_copy(decision, url, *preset, mode, get_whitelist_timeout_ms(run)) ==
                         copy_use::answered) {
        if (decision.hit)
            return decision;
    } else if (preset && !preset->empty()) {
        // With the copy on, the file was read and found unreadable, and no copy answers for it.
        const bool present = !with_copy && file_exists(*preset);
        decision.consulted.push_back({"whitelist_path", *preset, present});
        if (!present) {
            // A configured rule file that is missing (or, with the copy on, cannot be
            // read whole) is an installation fault the user must see; falling back to
            // the folder search would hide it.
            decision.stop = format_wide_bounded(
                8192, L"Die eingestellte Whitelist-Datei konnte leider nicht gefunden werden:\n\n%ls",
                char_to_wchar(*preset).c_str());
            if (acting)
                fatal_error(1, *decision.stop, event_kind::rule_file_missing);
            return decision;
        }
        if (acting)
            LOG_OSTRILO(LOG_DEBUG, "Found predefined whitelist path. Checking if url is in whitelist in this file: %s",
                        preset->c_str());
        if (consult_rule_file(decision, url, preset, mode))
            return decision;
    }
    if (acting)
        LOG_OSTRILO(LOG_DEBUG,
                    "No predefined whitelist path (or no match found in it). Looking 'all over the place' "
                    "(Program Files, %%appdata%%, next to ostrilo.exe and in -configdir if given)");
    std::vector<rule_place>& places = decision.consulted;
    if (dir) {
        if (consult_rule_file(decision, url,
                              find_rule_file(cached.configdir, *dir, configdir_location, "-configdir", places, mode),
                              mode))
            return decision;
    }
    if (consult_rule_file(decision, url,
                          find_rule_file(cached.global, get_kvix_installpath(run), global_location,
                                         "installation folder", places, mode),
                          mode))
        return decision;
    std::optional<std::string> appdata_folder = appdata_rule_folder(run, mode);
    if (!appdata_folder) {
        decision.stop = appdata_missing_text;
        return decision;
    }
    if (consult_rule_file(
            decision, url,
            find_rule_file(cached.appdata, *appdata_folder, appdata_location, "%APPDATA%\\vnc", places, mode), mode))
        return decision;
    consult_rule_file(
        decision, url,
        find_rule_file(cached.startpath, program_folder(), startpath_location, "program folder", places, mode), mode);
    return decision;
}

void free_rule_file_paths(run_context& run)
{
    run.rule_files = {};
}
