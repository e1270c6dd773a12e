// Checking one URL against one rule file.
#include "url_rules.h"

#include <cstdio>

#include "log.h"
#include "nb_utils.h"
#include "unique_resource.h"

namespace {

// Rule file paths are tested with file_exists, which reads them as UTF-8;
// opening them the same way keeps "exists" and "can be read" in step.
unique_file open_for_reading(const std::string& path)
{
#ifdef _WIN32
    std::optional<std::wstring> wide = utf8_to_wide(path);
    if (!wide)
        return unique_file();
    return unique_file(_wfopen(wide->c_str(), L"r"));
#else
    return unique_file(std::fopen(path.c_str(), "r"));
#endif
}

}  // namespace

namespace {

// The records of every rule file check; gives the URL as it is compared.
std::string begin_check(std::string_view url, const char* file, bool acting, bool strict_host)
{
    if (acting)
        LOG_ENVIRONMENT(LOG_DEBUG, "* Check URL '%s' in whitelist '%s'", std::string(url).c_str(), file);
    std::string compared = normalise_url(url, strict_host);
    if (acting)
        LOG_ENVIRONMENT(LOG_DEBUG, "URL to compare is now: %s", compared.c_str());
    return compared;
}

bool note_hit(rule_decision& decision, const std::string& file, std::optional<rule_hit> hit)
{
    if (!hit)
        return false;
    decision.file = file;
    decision.hit = std::move(hit);
    return true;
}

}  // namespace

bool consult_rule_file(rule_decision& decision, std::string_view url, const std::optional<std::string>& path,
                       lookup_mode mode)
{
    std::string compared =
        begin_check(url, path ? path->c_str() : "(null)", mode == lookup_mode::acting, decision.strict_host);
    if (!path || mode == lookup_mode::listing)
        return false;
    unique_file file = open_for_reading(*path);
    if (!file)
        return false;
    return note_hit(decision, *path, find_rule_in_file(compared, file.get(), decision.strict_host));
}

bool consult_rule_blocks(rule_decision& decision, std::string_view url, const std::string& file,
                         const block_reader& raw, lookup_mode mode, std::optional<bool> strict_host)
{
    const bool strict = strict_host.value_or(decision.strict_host);
    std::string compared = begin_check(url, file.c_str(), mode == lookup_mode::acting, strict);
    return note_hit(decision, file, find_rule_in_blocks(compared, text_mode_reader{raw}, strict));
}

std::optional<rule_match> is_in_url_whitelist(std::string_view url, const std::optional<std::string>& path)
{
    rule_decision decision;
    if (!consult_rule_file(decision, url, path, lookup_mode::acting))
        return std::nullopt;
    return decision.hit->rule;
}
