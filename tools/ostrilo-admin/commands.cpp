// ostrilo-admin lint and import-sitelist, wired to the linter and the import.
#include "commands.h"

#include <cstdio>
#include <iostream>

#include <nlohmann/json.hpp>

// Until the linter and the import are merged in, the two commands say so.
#if __has_include("lint.h") && __has_include("sitelist.h")
#include "lint.h"
#include "sitelist.h"

int lint_command(const std::vector<rule_file_bytes>& files, bool json)
{
    std::vector<rule_file_text> texts;
    for (const rule_file_bytes& file : files)
        texts.push_back({file.path, file.content});
    const std::vector<lint_finding> findings = lint_rule_files(texts);
    if (json) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (const lint_finding& f : findings)
            all.push_back({{"file", f.file}, {"line", f.line}, {"column", f.column},
                           {"severity", f.error ? "error" : "warning"}, {"text", f.text}, {"code", f.code}});
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
        else
            chosen.other_rule = value;
    }
    const sitelist_result result = import_sitelist(xml, chosen);
    if (!result.ok) {
        std::fprintf(stderr, "ostrilo-admin: %s\n", result.error.c_str());
        return 2;
    }
    std::cout << result.rules;
    std::cerr << result.summary;
    return 0;
}
#else
int lint_command(const std::vector<rule_file_bytes>&, bool)
{
    std::fprintf(stderr, "ostrilo-admin: lint is not part of this build\n");
    return 2;
}

int import_command(const std::string&, const std::vector<std::pair<std::string, std::string>>&)
{
    std::fprintf(stderr, "ostrilo-admin: import-sitelist is not part of this build\n");
    return 2;
}
#endif
