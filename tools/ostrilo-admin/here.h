// What ostrilo-admin sees on Windows: the product's own lookup and discovery,
// read-only, as Ostrilo.exe beside it would see them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "explain.h"

// The -configdir folder as Ostrilo.exe keeps it: without trailing backslashes.
std::optional<std::string> configdir_folder(const std::optional<std::string>& argument);
explanation explain_here(const std::string& url, const std::optional<std::string>& dir);
// Every rule file Ostrilo would consult here, in its order (both names of a folder).
std::vector<std::string> rule_files_here(const std::optional<std::string>& dir);
// The status report; gives 0 when everything is fine, 1 otherwise.
int print_status(const std::optional<std::string>& dir, bool json);
