// One rule line split into its fields.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line = input_text(data, size);
    const rule_match rule = parse_rule_line(line);
    const bool has_dest = line.find('|') != std::string_view::npos;
    check(has_dest || rule.dest == "local", "no destination field means local");
    // The fields joined again give the line up to a fifth field.
    std::string joined = rule.url_expr + (has_dest ? "|" + rule.dest : "");
    for (const auto& field : {rule.browser, rule.browser_profile})
        joined += field ? "|" + *field : "";
    check(line.starts_with(joined) && line.substr(joined.size(), 1).find_first_not_of('|') == std::string_view::npos,
          "fields are the text between separators");
    return 0;
}
