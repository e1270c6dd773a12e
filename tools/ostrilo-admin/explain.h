// ostrilo-admin explain: where a link goes, from the product's own lookup.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "route_plan.h"
#include "url_rules.h"

// What follows on this machine beyond the plan (Windows only; empty natively).
struct local_followup {
    bool file = false;                            // the link is a readable file: no lookup
    std::optional<std::string> shell_file;        // the file the shell is asked to open
    std::optional<std::string> shell_parameters;  // and its parameters
    std::optional<std::string> browser_call;      // "<program>" "<link>" from ostrilo.cfg
};

struct explanation {
    std::string url;
    rule_decision decision;
    route_plan plan;
    local_followup local;
};

// The lookup over rule files named on the command line, in that order.
rule_decision decide_from_files(const std::string& url, const std::vector<std::string>& files);
// The plan for a decision (none when the lookup stops the run).
explanation explain_decision(const std::string& url, rule_decision decision);

nlohmann::ordered_json explanation_json(const explanation& e);
std::string explanation_text(const explanation& e);
