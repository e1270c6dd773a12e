// ostrilo-admin explain: where a link goes, from the product's own lookup.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
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

// A key of this machine that changed the decision: its name, its value and
// where it was set ("machine policy", "<ostrilo.cfg>:<line>", ...).
struct deciding_key {
    std::string name;
    std::string value;
    std::string source;
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
    std::vector<deciding_key> keys;
};

// The keys set on this machine (not by an option of explain), by name: their
// value and where each was set.
using key_sources = std::map<std::string, std::pair<std::string, std::string>>;

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

// Names the keys of `sources` that changed this decision: a hardening key that
// changed the rule, the argument or refused the link, unwrap_links that took a
// layer off, whitelist_path (and whitelist_copy, whitelist_timeout_ms) when
// its file or copy decided or stopped the run.
void note_deciding_keys(explanation& e, const key_sources& sources);

nlohmann::ordered_json explanation_json(const explanation& e);
std::string explanation_text(const explanation& e);
