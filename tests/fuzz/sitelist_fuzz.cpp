// ostrilo-admin import-sitelist: a site list's bytes.
#include "fuzz.h"
#include "sitelist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const sitelist_result result = import_sitelist(input_text(data, size), {});
    check(result.ok ? result.error.empty() : !result.error.empty() && result.rules.empty(), "rules or a reason");
    // Each line is a note or one whole rule of an option: a rule file reads no other rule.
    for (std::string_view rules = result.rules; !rules.empty(); rules.remove_prefix(rules.find('\n') + 1)) {
        const std::string_view line = rules.substr(0, rules.find('\n'));
        const std::size_t bar = line.find('|');
        const std::string_view rule = line.substr(std::min(bar + 1, line.size()));
        check(line.starts_with('#') ||
                  (bar != std::string_view::npos && bar > 0 && line.find_first_of(" \t\r") == std::string_view::npos &&
                   (rule == "local|edge" || rule == "local|ie" || rule == "remote")),
              "a note, or one whole rule of an option");
    }
    return 0;
}
