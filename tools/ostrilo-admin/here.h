// What ostrilo-admin sees on Windows: the product's own lookup and discovery,
// read-only, as Ostrilo.exe beside it would see them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "explain.h"

struct run_context;

// The -configdir folder as Ostrilo.exe keeps it: without trailing backslashes.
std::optional<std::string> configdir_folder(const std::optional<std::string>& argument);
// Each takes the tool's run, built like Ostrilo.exe's with the -configdir folder.
// keys: the opt-in keys as set in ostrilo.cfg or forced by explain's options.
explanation explain_here(run_context& run, const std::string& url, const explain_keys& keys);
// The opt-in keys as ostrilo.cfg sets them here.
explain_keys explain_keys_here(run_context& run);
// The keys explain names when they change a decision, as set here (by policy
// or ostrilo.cfg; keys at their default are left out).
key_sources key_sources_here(run_context& run);
// Every rule file Ostrilo would consult here, in its order (both names of a folder).
std::vector<std::string> rule_files_here(run_context& run);
// The status report; gives 0 when everything is fine, 1 otherwise. refresh:
// the whitelist_url list is fetched first, and what changed is the first line.
int print_status(run_context& run, bool json, bool refresh);
// ostrilo-admin default-associations: the default associations file (in base64
// with `base64`) on standard output, or into the file `out`; gives the exit status.
int write_default_associations(run_context& run, const std::optional<std::string>& out, bool base64);
