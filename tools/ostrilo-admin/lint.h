// The rule-file linter: what Ostrilo would make of the rule files, as findings
// a person can act on. Text in, findings out; the rules are judged by the
// program's own line splitting and pattern matching.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct rule_file_text {
    std::string path;     // as shown in findings
    std::string content;  // the file's raw bytes
};

// error: the rule cannot work as written (it never matches, or the link is not
// opened as written); warning: it works, but not only as intended.
struct lint_finding {
    std::string file;
    int line;    // 1-based
    int column;  // 1-based byte column in the line
    bool error;
    std::string text;
    std::string code;
};

// Findings over the rule files in the order Ostrilo consults them (earlier
// files shadow later ones), per file ordered by line and column. strict_host:
// the rules are read with strict_host_match=1, so a "*" before the host no
// longer lets a path pose as the host.
std::vector<lint_finding> lint_rule_files(const std::vector<rule_file_text>& files, bool strict_host = false);
// ostrilo.cfg as Ostrilo reads it: a UTF-8 byte order mark in front of the
// first key keeps that key from ever being known (the reading keeps the mark
// as part of the key). One cfg-utf8-bom finding, or none.
std::vector<lint_finding> lint_config_file(const rule_file_text& file);
// The first key of an ostrilo.cfg that a UTF-8 byte order mark hides, or none
// (no mark, or a first line that holds no key).
std::optional<std::string> key_behind_bom(std::string_view content);
// "file:line:col: error|warning: text [code]"
std::string format_finding(const lint_finding& finding);
// 0 clean, 1 warnings only, 2 errors.
int lint_exit_status(const std::vector<lint_finding>& findings);
