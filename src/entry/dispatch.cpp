// Routing one URL: the rule lookup and the action its match calls for.
#include "ostrilo.h"

#include "local_browser.h"
#include "log.h"
#include "nb_utils.h"
#include "url_rules.h"
#include "viewer.h"

namespace {

struct local_browser_row {
    const char* name;
    const char* log_text;
    int mode;
};

// Tested in this order; a missing or empty browser field takes mode 0.
constexpr local_browser_row local_browsers[] = {
    {"firefox", "Opening URL locally using Firefox", 2},
    {"chrome", "Opening URL locally using Chrome", 3},
    {"edge", "Opening URL locally using Edge", 4},
    {"ie", "Opening URL locally using IE", 5},
};

// The remote hand-off text is kept to at most 4093 bytes.
constexpr std::size_t remote_text_bound = 4094;

void open_locally(const std::wstring& wide_url, const std::optional<std::string>& browser)
{
    LOG_OSTRILO(LOG_INFO, "Opening URL locally.");
    if (!browser || browser->empty()) {
        LOG_OSTRILO(LOG_DEBUG, "No browser specified in URL whitelist. Opening URL locally using IE");
        open_url_locally(wide_url, 0);
        return;
    }
    for (const local_browser_row& row : local_browsers) {
        if (*browser == row.name) {
            LOG_OSTRILO(LOG_DEBUG, "%s", row.log_text);
            open_url_locally(wide_url, row.mode);
            return;
        }
    }
    // A browser name this program does not know still asks for a local
    // browser: the user is better served by the default one than by a link
    // that silently opens nowhere.
    LOG_OSTRILO(LOG_WARN, "Unknown browser '%s' in URL whitelist. Opening URL locally using the default browser",
                browser->c_str());
    open_url_locally(wide_url, 0);
}

void open_remotely(const std::string& narrow_url, const rule_match& rule)
{
    const std::string profile = rule.browser_profile.value_or("");
    const std::string browser = rule.browser.value_or("");
    LOG_OSTRILO(LOG_DEBUG, "Opening URL in kvix: %s|%s|%s", profile.c_str(), browser.c_str(), narrow_url.c_str());
    std::string text = format_unbounded("%s|%s|%s", profile.c_str(), browser.c_str(), narrow_url.c_str());
    open_url_in_kvix(handoff_text_to_wide(text, remote_text_bound - 1));
}

}  // namespace

int route_url(const std::wstring& wide_url, const std::string& narrow_url)
{
    std::optional<rule_match> rule = lookup_url_rule(narrow_url);
    if (!rule) {
        LOG_OSTRILO(LOG_INFO, "Opening URL in kvix (didn't find any match in url list)");
        open_url_in_kvix(wide_url);
        return 0;
    }
    if (rule->dest == "local") {
        open_locally(wide_url, rule->browser);
        return 0;
    }
    if (rule->dest == "remote") {
        open_remotely(narrow_url, *rule);
        return 0;
    }
    LOG_OSTRILO(LOG_ERROR, "Error: couldn't figure out if the URL should be opened locally or remotely... Aborting.");
    return 1;
}
