// An enterprise mode site list (version 2 schema) as rule lines. Text in, text
// out: ostrilo-admin import-sitelist prints the result; nothing here needs
// Win32 or the admin tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The largest list converted (the bound of a download too), and the most
// <site> elements it may hold; beyond either the list is refused as a whole.
constexpr std::size_t sitelist_max_bytes = 32 * 1024 * 1024;
constexpr std::size_t sitelist_max_sites = 1'000'000;

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
//   --strict-host      strict_host
struct sitelist_options {
    std::string edge_rule = "local|edge";
    std::string ie_rule = "local|ie";
    std::string other_rule = "remote";
    std::vector<std::string> edge_values = {"MSEdge"};
    std::vector<std::string> ie_values = {"IE11"};
    // The rules are read with strict_host_match=1: each entry also gets its
    // "*." rule for its subdomains. Otherwise an entry takes its host only,
    // for a "*." rule would also take a link whose path holds the host.
    bool strict_host = false;
};

// A rule line of the result (its line number in rules, from 1) and the byte
// offset (from 0) in the list of the "<site" it came from.
struct sitelist_origin {
    std::uint32_t line = 0;
    std::uint32_t site_offset = 0;
};

// ok: rules holds the rule lines (with "#" notes; no line of 4094 bytes or
// more, no control character) for standard output, summary one line of
// counts for standard error and origins one row per rule line, in order;
// otherwise error says why the list is refused, and nothing else is given.
struct sitelist_result {
    bool ok = false;
    std::string rules;
    std::string summary;
    std::string error;
    std::vector<sitelist_origin> origins;
};

sitelist_result import_sitelist(std::string_view xml, const sitelist_options& options);
