// The import of an enterprise mode site list (version 2 schema) as rule lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// What each site becomes: the text after "pattern|" of its rules. A site's
// <open-in> value (compared without regard to case; a site without one is
// "None") picks the rule: one of edge_values gives edge_rule, one of ie_values
// ie_rule, any other other_rule.
//
// Command line of ostrilo-admin import-sitelist FILE.xml:
//   --edge RULE        edge_rule  (default "local|edge")
//   --ie RULE          ie_rule    (default "local|ie")
//   --other RULE       other_rule (default "remote")
//   --edge-values LIST edge_values, comma-separated (default "MSEdge")
//   --ie-values LIST   ie_values, comma-separated (default "IE11")
struct sitelist_options {
    std::string edge_rule = "local|edge";
    std::string ie_rule = "local|ie";
    std::string other_rule = "remote";
    std::vector<std::string> edge_values = {"MSEdge"};
    std::vector<std::string> ie_values = {"IE11"};
};

// ok: rules holds the rule lines (with "#" notes) for standard output and
// summary one line of counts for standard error; otherwise error says why.
struct sitelist_result {
    bool ok;
    std::string rules;
    std::string summary;
    std::string error;
};

sitelist_result import_sitelist(std::string_view xml, const sitelist_options& options);
