// ostrilo-admin, the administrators' console program (main.cpp): explain
// (explain.h), status and the lookup on this machine (here.h, *_win32.cpp),
// lint (lint.h) and import-sitelist (src/rules/sitelist.h). This header: the
// command-line side of the rule file linter and the site list import.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A rule file's path (as shown in findings) and its raw bytes.
struct rule_file_bytes {
    std::string path;
    std::string content;
};

// Prints the findings (as text or JSON); gives the linter's exit status.
// strict_host: as if the rules were read with strict_host_match=1.
int lint_command(const std::vector<rule_file_bytes>& files, bool json, bool strict_host);

// What a command prints on standard output and standard error, and its exit status.
struct command_output {
    int status = 0;
    std::string out;
    std::string err;
};
// The rule lines (out) and the summary (err), status 0; or why the list is
// refused (err), status 2. options are "--edge", "--ie", "--other" with their
// rule texts and "--edge-values", "--ie-values" with comma-separated
// <open-in> values; strict_host is --strict-host.
command_output import_command(std::string_view xml, const std::vector<std::pair<std::string, std::string>>& options,
                              bool strict_host);
