// What follows a rule lookup: the local browser, the viewer hand-off, or the
// refusal of a rule without a known destination. Text in, text out.
#pragma once

#include <optional>
#include <string>

#include "url_rules.h"

enum class route_kind {
    viewer,           // no rule matched: the link itself goes to the viewer
    local,            // a local browser
    remote,           // the viewer, with profile and browser of the rule
    bad_destination,  // the run ends with status 1
};

struct route_plan {
    route_kind kind = route_kind::viewer;
    // local: 0 default, 2 Firefox, 3 Chrome, 4 Edge, 5 Internet Explorer.
    int browser_mode = 0;
    // The record that names the choice (local, remote, bad destination).
    int note_level = 0;
    std::string note;
    // remote: "profile|browser|link" cut at 4093 bytes, never inside a UTF-8
    // sequence; viewer: the link.
    std::string viewer_text;
    // remote text that is not UTF-8 (a rule file saved in the ANSI code page):
    // cut at 4093 bytes and handed on with each byte widened, as it always was.
    bool widen_bytes = false;
};

route_plan plan_route(const std::optional<rule_match>& rule, const std::string& narrow_url);

// The hand-off text as UTF-8 (bytes to widen are widened one by one first) and the bytes a running viewer receives on
// its pipe: that text URL-encoded, then a NUL.
std::string handoff_utf8(const route_plan& plan);
std::string pipe_bytes(const route_plan& plan);
