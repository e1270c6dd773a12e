// Checking one URL against one rule file.
#include "url_rules.h"

#include <cstdio>
#include <memory>

#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"

namespace {

// Rule file paths are tested with file_exists, which reads them as UTF-8;
// opening them the same way keeps "exists" and "can be read" in step.
unique_file open_for_reading(const std::string& path)
{
    std::optional<std::wstring> wide = utf8_to_wide(path);
    if (!wide)
        return nullptr;
    return unique_file(_wfopen(wide->c_str(), L"r"));
}

}  // namespace

std::optional<rule_match> is_in_url_whitelist(std::string_view url, const std::optional<std::string>& path)
{
    LOG_ENVIRONMENT(LOG_DEBUG, "* Check URL '%s' in whitelist '%s'", std::string(url).c_str(),
                    path ? path->c_str() : "(null)");
    std::string compared = normalise_url(url);
    LOG_ENVIRONMENT(LOG_DEBUG, "URL to compare is now: %s", compared.c_str());
    if (!path)
        return std::nullopt;
    unique_file file = open_for_reading(*path);
    if (!file)
        return std::nullopt;
    return scan_rule_file(compared, file.get(), get_strict_host_match() == 1);
}
