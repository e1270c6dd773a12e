// The choice that follows a rule lookup, apart from its Win32 actions.
#include "route_plan.h"

#include <algorithm>

#include "log.h"
#include "nb_utils.h"
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

route_plan plan_local(const std::optional<std::string>& browser)
{
    route_plan plan{route_kind::local, 0, LOG_DEBUG, {}, {}};
    if (!browser || browser->empty()) {
        plan.note = "No browser specified in URL whitelist. Opening URL locally using IE";
        return plan;
    }
    for (const local_browser_row& row : local_browsers) {
        if (*browser == row.name) {
            plan.browser_mode = row.mode;
            plan.note = row.log_text;
            return plan;
        }
    }
    // A browser name this program does not know still asks for a local
    // browser: the user is better served by the default one than by a link
    // that silently opens nowhere.
    plan.note_level = LOG_WARN;
    plan.note = format_unbounded("Unknown browser '%s' in URL whitelist. Opening URL locally using the default browser",
                                 browser->c_str());
    return plan;
}

}  // namespace

route_plan plan_route(const std::optional<rule_match>& rule, const std::string& narrow_url)
{
    if (!rule)
        return {route_kind::viewer, 0, LOG_INFO, "Opening URL in kvix (didn't find any match in url list)", narrow_url};
    if (rule->dest == "local")
        return plan_local(rule->browser);
    if (rule->dest == "remote") {
        const std::string profile = rule->browser_profile.value_or("");
        const std::string browser = rule->browser.value_or("");
        route_plan plan{
            route_kind::remote, 0, LOG_DEBUG,
            format_unbounded("Opening URL in kvix: %s|%s|%s", profile.c_str(), browser.c_str(), narrow_url.c_str()),
            format_unbounded("%s|%s|%s", profile.c_str(), browser.c_str(), narrow_url.c_str())};
        // The viewer gets the text as UTF-8, like a link without a rule: a German
        // user's "ß" must arrive as "ß", not as two Latin-1 characters.
        std::string kept = plan.viewer_text.substr(0, utf8_cut_length(plan.viewer_text, remote_text_bound - 1));
        if (is_valid_utf8(kept)) {
            plan.viewer_text = std::move(kept);
        } else {
            plan.viewer_text.resize(std::min(plan.viewer_text.size(), remote_text_bound - 1));
            plan.widen_bytes = true;
        }
        return plan;
    }
    return {route_kind::bad_destination,
            0,
            LOG_ERROR,
            "Error: couldn't figure out if the URL should be opened locally or remotely... Aborting.",
            {}};
}

std::string handoff_utf8(const route_plan& plan)
{
    if (!plan.widen_bytes)
        return plan.viewer_text;
    std::string utf8;
    for (unsigned char byte : plan.viewer_text) {
        if (byte < 0x80) {
            utf8 += static_cast<char>(byte);
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

std::string pipe_bytes(const route_plan& plan)
{
    return url_encode(handoff_utf8(plan)) + '\0';
}
