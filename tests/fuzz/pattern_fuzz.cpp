// The pattern language: a pattern (before the first NUL, cut at 4094 bytes
// like a rule line) against a link.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto [pattern, url] = split_at_nul(input_text(data, size));
    pattern = pattern.substr(0, 4094);
    match_url_expr(pattern, url);
    // Each character matches itself, a star a star.
    check(match_url_expr(pattern, pattern), "a pattern matches its own text");
    return 0;
}
