// The command line (a C string): the -configdir folder, and the split of
// strict_command_line=1.
#include "fuzz.h"
#include "kvix_environment.h"

void check_split(std::string_view line)
{
    const auto split = split_strict_command_line(line);
    check(!split || (split->head_end <= line.size() &&
                     (!split->link ||
                      (split->head_end + 7 == split->link->first && split->link->first <= split->link->second &&
                       split->link->second < line.size() && line[split->link->second] == '"'))),
          "the head lies in the line; the link follows its marker and ends at a quote");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line(split_at_nul(input_text(data, size)).first);
    if (const std::optional<std::string> folder = get_configdir_from_cmdline(line))
        check(folder->ends_with("\\") && !folder->ends_with("\\\\") &&
                  line.find(folder->substr(0, folder->size() - 1)) != std::string::npos,
              "the folder is text of the line, ending in exactly one backslash");
    check_split(line);
    return 0;
}
