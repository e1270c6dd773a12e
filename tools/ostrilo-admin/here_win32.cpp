// ostrilo-admin on Windows: the lookup where Ostrilo.exe would look, and the
// local browser request it would make.
#include "here.h"

#include <algorithm>

#include "local_browser.h"
#include "nb_utils.h"

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

explanation explain_here(const std::string& argument, const std::optional<std::string>& dir)
{
    // As Ostrilo.exe takes its link: kvxp:// and kvxps:// stand for http://
    // and https://, and the path of a readable file opens locally unlooked-up.
    std::string url = argument;
    if (starts_with(url, "kvxp://") || starts_with(url, "kvxps://"))
        url.replace(0, 3, "htt");
    explanation e;
    if (file_exists(url)) {
        e = {url, {}, {route_kind::local, 0, 0, "URL is actually a file. Opening locally.", {}}, {}};
        e.local.file = true;
    } else {
        e = explain_decision(url, decide_url_rule(url, dir, lookup_mode::explaining));
    }
    if (e.decision.stop || e.plan.kind != route_kind::local)
        return e;
    const std::wstring wide_url = utf8_to_wide(url).value_or(std::wstring());
    if (std::optional<shell_request> request = browser_shell_request(wide_url, e.plan.browser_mode)) {
        e.local.shell_file = utf8(request->file);
        e.local.shell_parameters = utf8(request->parameters);
    }
    const std::wstring call = create_browser_call(wide_url, e.plan.browser_mode);
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

std::vector<std::string> rule_files_here(const std::optional<std::string>& dir)
{
    std::vector<std::string> files;
    for (const rule_place& place : decide_url_rule("", dir, lookup_mode::listing).consulted) {
        // The installation folder is the program folder when the product is not installed.
        if (place.present && std::find(files.begin(), files.end(), place.path) == files.end())
            files.push_back(place.path);
    }
    return files;
}
