// ostrilo-admin explain: where a link goes, from the product's own lookup.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "route_plan.h"
#include "unwrap.h"
#include "url_rules.h"

// What follows on this machine beyond the plan (Windows only; empty natively).
struct local_followup {
    bool file = false;                            // the link is a readable file: no lookup
    std::optional<std::string> shell_file;        // the file the shell is asked to open
    std::optional<std::string> shell_parameters;  // and its parameters
    std::optional<std::string> browser_call;      // "<program>" "<link>" from ostrilo.cfg
    // safe_browser_arguments=1: the argument the browser gets instead of the
    // raw link; refused: the link cannot be passed safely and is not opened.
    std::optional<std::string> safe_argument;
    bool refused = false;
};

// The opt-in keys of ostrilo.cfg as explain applies them.
struct explain_keys {
    bool strict_host = false;
    bool safe_arguments = false;
    int unwrap_links = 0;
};

struct explanation {
    std::string url;  // the link that is opened or handed on
    rule_decision decision;
    route_plan plan;
    local_followup local;
    bool safe_arguments = false;
    // strict_host_match=1 applied and the link would have matched another
    // rule or place without it: the decision without it.
    std::optional<rule_decision> without_strict_host;
    // unwrap_links set: the layers taken off, the link looked up and the one opened.
    std::optional<unwrapped_link> unwrap;
};

// The lookup over rule files named on the command line, in that order.
rule_decision decide_from_files(const std::string& url, const std::vector<std::string>& files,
                                bool strict_host = false);
// The plan for a decision (none when the lookup stops the run).
explanation explain_decision(const std::string& url, rule_decision decision);
// Keeps the decision without strict host matching when it differs from the one made with it.
void note_strict_host_difference(explanation& e, rule_decision without);
// safe_browser_arguments=1 for a local link: the argument, or the refusal.
void apply_safe_arguments(explanation& e);
// The explanation over rule files named on the command line, with the keys applied.
explanation explain_files(const std::string& url, const std::vector<std::string>& files, const explain_keys& keys);

nlohmann::ordered_json explanation_json(const explanation& e);
std::string explanation_text(const explanation& e);
