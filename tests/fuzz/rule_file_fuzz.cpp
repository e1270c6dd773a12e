// A rule file's bytes (after the first NUL) scanned for a link (before it),
// with and without strict_host_match; a hit must be a piece of its line as
// fgets with 4095 bytes reads the file.
#include "fuzz.h"

bool piece_on_line(const rule_hit& hit, FILE* file)
{
    char piece[4095];
    int line = 0;
    bool at_line_start = true;
    for (long at = 0; std::fgets(piece, sizeof piece, file); at = std::ftell(file)) {
        const std::string_view text(piece, static_cast<std::size_t>(std::ftell(file) - at));  // NULs included
        line += at_line_start;
        at_line_start = text.back() == '\n';
        if (line == hit.line && trim(text.substr(0, text.find('\0'))) == hit.text)
            return true;
    }
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto [url, content] = split_at_nul(input_text(data, size));
    std::string bytes(content);
    for (const bool strict : {false, true}) {
        const unique_file file(fmemopen(bytes.data(), bytes.size(), "r"));
        const std::optional<rule_hit> hit =
            bytes.empty() ? std::nullopt : find_rule_in_file(normalise_url(url), file.get(), strict);
        if (!hit)
            continue;
        check(!hit->text.empty() && hit->text.front() != '#' &&
                  hit->rule.dest == parse_rule_line(ascii_lower(hit->text)).dest,
              "a hit is a rule, not a note");
        std::rewind(file.get());
        check(piece_on_line(*hit, file.get()), "a hit is a piece of its line");
    }
    return 0;
}
