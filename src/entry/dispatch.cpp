// Routing one URL: the rule lookup and the action its match calls for.
#include "entry.h"

#include "kvix_environment.h"
#include "local_browser.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "route_plan.h"
#include "run_context.h"
#include "unwrap.h"
#include "url_rules.h"
#include "util_log.h"
#include "viewer.h"

namespace {

// The rule file and line that decided, for the events.
std::string decided_by(const rule_decision& decision)
{
    if (!decision.hit)
        return "no rule matched; such a link goes to the viewer";
    return format_unbounded("line %d of %s: %s", decision.hit->line, decision.file.value_or("").c_str(),
                            decision.hit->text.c_str());
}

}  // namespace

int route_url(run_context& run, const std::wstring& given_wide_url, const std::string& given_narrow_url)
{
    // unwrap_links: the lookup may use the link inside a rewriter's, and with
    // 2 that link is also what is opened; without the key nothing changes.
    const unwrapped_link link = unwrap_link(given_narrow_url, get_unwrap_links(run));
    if (const std::optional<unwrap_record> record = unwrap_record_of(link))
        LOG_OSTRILO(record->info ? LOG_INFO : LOG_DEBUG, "%s", record->text.c_str());
    const bool open_inner = link.opened != given_narrow_url;
    const std::string& narrow_url = link.opened;
    const std::wstring wide_url = open_inner ? utf8_to_wide(link.opened).value_or(std::wstring()) : given_wide_url;
    const rule_decision decision = decide_url_rule(run, link.lookup, lookup_mode::acting);
    std::optional<rule_match> rule;
    if (decision.hit)
        rule = decision.hit->rule;
    const route_plan plan = plan_route(rule, narrow_url);
    std::string went;
    switch (plan.kind) {
        case route_kind::viewer:
            LOG_OSTRILO(plan.note_level, "%s", plan.note.c_str());
            went = open_url_in_kvix(run, wide_url);
            break;
        case route_kind::local:
            LOG_OSTRILO(LOG_INFO, "Opening URL locally.");
            LOG_OSTRILO(plan.note_level, "%s", plan.note.c_str());
            went = open_url_locally(run, wide_url, plan.browser_mode);
            break;
        case route_kind::remote:
            LOG_OSTRILO(plan.note_level, "%s", plan.note.c_str());
            went = open_url_in_kvix(run, plan.widen_bytes ? char_to_wchar(plan.viewer_text)
                                                          : utf8_to_wide(plan.viewer_text).value_or(std::wstring()));
            break;
        case route_kind::bad_destination:
            LOG_OSTRILO(plan.note_level, "%s", plan.note.c_str());
            write_event<event_kind::unknown_destination>(given_narrow_url, decided_by(decision));
            return 1;
    }
    if (event_wanted(event_kind::link_routed))
        write_event<event_kind::link_routed>(given_narrow_url, link.lookup, decided_by(decision), went);
    return 0;
}

void open_file_link(run_context& run, const std::wstring& wide_url, const std::string& narrow_url)
{
    LOG_OSTRILO(LOG_INFO, "URL is actually a file. Opening locally.");
    const std::string went = open_url_locally(run, wide_url, 0);
    write_event<event_kind::link_routed>(narrow_url, narrow_url, "the link names a file, which opens without a lookup",
                                         went);
}
