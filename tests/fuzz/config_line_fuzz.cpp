// Key/value files (ostrilo.cfg, kvix.vnc): each piece the reader takes (fgets
// with 4095 bytes, up to a NUL) split into key and value.
#include <cstring>

#include "fuzz.h"
#include "kvix_environment.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string bytes(input_text(data, size));
    const unique_file file(fmemopen(bytes.data(), bytes.size(), "r"));
    char line[4095];
    while (size > 0 && std::fgets(line, sizeof line, file.get())) {
        const auto pair = split_config_line(std::string_view(line, std::strlen(line)));
        if (!pair)
            continue;
        for (const std::string_view text : {pair->first, pair->second})
            check(!text.empty() && text.front() != ' ' && text.back() != ' ', "key and value are trimmed, not empty");
        check(pair->second.find_first_of("\r\n") == std::string::npos, "a value ends at the line break");
        check(keys_equal(pair->first, ascii_lower(pair->first)), "keys compare without case");
    }
    return 0;
}
