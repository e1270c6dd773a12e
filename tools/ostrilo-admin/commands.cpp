// ostrilo-admin lint and import-sitelist, wired to the linter and the import.
#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include <nlohmann/json.hpp>

#include "lint.h"
#include "nb_utils.h"
#include "sitelist.h"

namespace {

std::vector<std::string> comma_list(const std::string& text)
{
    std::vector<std::string> values;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        if (end > start)
            values.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return values;
}

}  // namespace

int lint_command(const std::vector<rule_file_bytes>& files, bool json)
{
    // A file named ostrilo.cfg is Ostrilo's key file, read before any rule file.
    std::vector<lint_finding> findings;
    std::vector<rule_file_text> texts;
    for (const rule_file_bytes& file : files) {
        const std::size_t name = file.path.find_last_of("/\\");
        if (ascii_lower(file.path.substr(name == std::string::npos ? 0 : name + 1)) == "ostrilo.cfg") {
            const std::vector<lint_finding> found = lint_config_file({file.path, file.content});
            findings.insert(findings.end(), found.begin(), found.end());
        } else {
            texts.push_back({file.path, file.content});
        }
    }
    const std::vector<lint_finding> in_rules = lint_rule_files(texts);
    findings.insert(findings.end(), in_rules.begin(), in_rules.end());
    if (json) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (const lint_finding& f : findings)
            all.push_back({{"file", f.file},
                           {"line", f.line},
                           {"column", f.column},
                           {"severity", f.error ? "error" : "warning"},
                           {"text", f.text},
                           {"code", f.code}});
        std::cout << all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } else {
        for (const lint_finding& f : findings)
            std::cout << format_finding(f) << "\n";
    }
    return lint_exit_status(findings);
}

int import_command(const std::string& xml, const std::vector<std::pair<std::string, std::string>>& options)
{
    sitelist_options chosen;
    for (const auto& [name, value] : options) {
        if (name == "--edge")
            chosen.edge_rule = value;
        else if (name == "--ie")
            chosen.ie_rule = value;
        else if (name == "--other")
            chosen.other_rule = value;
        else if (name == "--edge-values")
            chosen.edge_values = comma_list(value);
        else
            chosen.ie_values = comma_list(value);
    }
    const sitelist_result result = import_sitelist(xml, chosen);
    if (!result.ok) {
        std::fprintf(stderr, "ostrilo-admin: %s\n", result.error.c_str());
        return 2;
    }
    std::cout << result.rules;
    std::cerr << result.summary << (result.summary.ends_with('\n') ? "" : "\n");
    return 0;
}
