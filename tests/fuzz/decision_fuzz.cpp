// The decision of a lookup and what follows: a rule line (before the first
// NUL; no match when empty) and a link, as ostrilo-admin explain shows them.
#include "explain.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto [line, rest] = split_at_nul(input_text(data, size));
    const std::string url(split_at_nul(rest).first);
    rule_decision decision;
    if (!line.empty()) {
        decision.file = "url whitelist.txt";
        decision.hit = rule_hit{parse_rule_line(ascii_lower(line)), 1, std::string(line)};
    }
    const explanation e = explain_decision(url, decision);
    explanation_json(e).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    explanation_text(e);
    const std::string pipe = pipe_bytes(e.plan);
    check(pipe.find('\0') == pipe.size() - 1, "the pipe message ends at its one NUL");
    check(e.plan.kind != route_kind::viewer || e.plan.viewer_text == url, "without a rule the link goes as it is");
    check(
        e.plan.kind != route_kind::remote || (e.plan.viewer_text.size() <= 4093 && is_valid_utf8(handoff_utf8(e.plan))),
        "a rule's hand-off is UTF-8 of at most 4093 bytes");
    return 0;
}
