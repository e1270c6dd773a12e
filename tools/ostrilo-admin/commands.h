// ostrilo-admin, the administrators' console program (main.cpp): explain
// (explain.h), status and the lookup on this machine (here.h, *_win32.cpp),
// lint (lint.h) and import-sitelist (sitelist.h). This header: the
// command-line side of the rule file linter and the site list import.
#pragma once

#include <string>
#include <utility>
#include <vector>

// A rule file's path (as shown in findings) and its raw bytes.
struct rule_file_bytes {
    std::string path;
    std::string content;
};

// Prints the findings (as text or JSON); gives the linter's exit status.
int lint_command(const std::vector<rule_file_bytes>& files, bool json);
// Prints the rule lines on standard output and the summary on standard
// error; options are "--edge", "--ie", "--other" with their rule texts and
// "--edge-values", "--ie-values" with comma-separated <open-in> values.
int import_command(const std::string& xml, const std::vector<std::pair<std::string, std::string>>& options);
