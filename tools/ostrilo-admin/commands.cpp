// ostrilo-admin lint and import-sitelist, wired to the linter and the import.
#include "commands.h"

#include <algorithm>
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

int lint_command(const std::vector<rule_file_bytes>& files, bool json, bool strict_host)
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
    const std::vector<lint_finding> in_rules = lint_rule_files(texts, strict_host);
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

command_output import_command(std::string_view xml, const std::vector<std::pair<std::string, std::string>>& options,
                              bool strict_host)
{
    sitelist_options chosen;
    chosen.strict_host = strict_host;
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
    sitelist_result result = import_sitelist(xml, chosen);
    if (!result.ok)
        return {2, "", "ostrilo-admin: " + result.error + "\n"};
    return {0, std::move(result.rules), result.summary + "\n"};
}
