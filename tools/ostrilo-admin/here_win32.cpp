// ostrilo-admin on Windows: the lookup where Ostrilo.exe would look, and the
// local browser request it would make.
#include "here.h"

#include <algorithm>

#include "config_keys.h"
#include "kvix_environment.h"
#include "local_browser.h"
#include "nb_utils.h"
#include "run_context.h"

namespace {

constexpr int internet_explorer_mode = 5;

std::optional<std::string> utf8(const std::optional<std::wstring>& text)
{
    if (!text)
        return std::nullopt;
    return wide_to_utf8(*text);
}

}  // namespace

std::optional<std::string> configdir_folder(const std::optional<std::string>& argument)
{
    if (!argument)
        return std::nullopt;
    std::string folder = *argument;
    while (ends_with(folder, "\\"))
        folder.pop_back();
    return folder;
}

explain_keys explain_keys_here(run_context& run)
{
    return {get_strict_host_match(run) == 1, get_safe_browser_arguments(run) == 1, get_unwrap_links(run)};
}

key_sources key_sources_here(run_context& run)
{
    key_sources sources;
    for (const char* name : {"whitelist_url", "whitelist_path", "whitelist_copy", "whitelist_timeout_ms",
                             "unwrap_links", "strict_host_match", "safe_browser_arguments"}) {
        const config_key& key = *find_config_key(name);
        const key_value value = key_in_force(run, key);
        if (value.source != key_source::fallback)
            sources[name] = {key_value_text(key, value.text, value.number), key_source_text(value)};
    }
    return sources;
}

explanation explain_here(run_context& run, const std::string& argument, const explain_keys& keys)
{
    // As Ostrilo.exe takes its link: kvxp:// and kvxps:// stand for http://
    // and https://, and the path of a readable file opens locally unlooked-up.
    std::string url = argument;
    if (starts_with(url, "kvxp://") || starts_with(url, "kvxps://"))
        url.replace(0, 3, "htt");
    explanation e;
    if (file_exists(url)) {
        e.url = url;
        e.plan = {route_kind::local, 0, 0, "URL is actually a file. Opening locally.", {}};
        e.local.file = true;
    } else {
        const unwrapped_link link = unwrap_link(url, keys.unwrap_links);
        e = explain_decision(link.opened, decide_url_rule(run, link.lookup, lookup_mode::explaining, keys.strict_host));
        if (keys.unwrap_links != 0)
            e.unwrap = link;
        if (keys.strict_host)
            note_strict_host_difference(e, decide_url_rule(run, link.lookup, lookup_mode::explaining, false));
    }
    if (e.decision.stop || e.plan.kind != route_kind::local)
        return e;
    if (keys.safe_arguments)
        apply_safe_arguments(e);
    if (e.local.refused)
        return e;
    // With safe_browser_arguments=1 every route gets the safe argument instead of the link.
    const std::wstring wide_url =
        utf8_to_wide(e.local.safe_argument ? *e.local.safe_argument : e.url).value_or(std::wstring());
    if (std::optional<shell_request> request = browser_shell_request(wide_url, e.plan.browser_mode)) {
        e.local.shell_file = utf8(request->file);
        e.local.shell_parameters = utf8(request->parameters);
    }
    const std::wstring call = create_browser_call(run, wide_url, e.plan.browser_mode, keys.safe_arguments);
    if (!call.empty()) {
        e.local.browser_call = wide_to_utf8(call);
    } else if (!e.local.shell_file) {
        // Without a shell request and a configured browser, Internet Explorer
        // is asked for as the last resort.
        const std::optional<shell_request> request = browser_shell_request(wide_url, internet_explorer_mode);
        e.local.shell_file = utf8(request->file);
        e.local.shell_parameters = utf8(request->parameters);
    }
    return e;
}

std::vector<std::string> rule_files_here(run_context& run)
{
    std::vector<std::string> files;
    for (const rule_place& place : decide_url_rule(run, "", lookup_mode::listing).consulted) {
        // The installation folder is the program folder when the product is not installed.
        if (place.present && std::find(files.begin(), files.end(), place.path) == files.end())
            files.push_back(place.path);
    }
    return files;
}
