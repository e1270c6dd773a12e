// strict_host_match=1: a pattern (before the first NUL) against a link.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto [pattern, url] = split_at_nul(input_text(data, size));
    const auto host_of = [](std::string_view text) { return text.substr(0, text.find_first_of("/?#:")); };
    const std::optional<std::string> form = strict_link_host_form(url);
    if (form)
        check(host_of(*form).find_first_of("\\@%ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string_view::npos,
              "the host is decoded, lower case and without user name");
    if (!match_url_expr_strict(pattern.substr(0, 4094), url))
        return 0;
    // The pattern's host after its last star ends the link's host: nothing in
    // the path, query or user name stands in for it.
    const std::string_view host = host_of(*form), written = host_of(pattern);
    const std::string_view tail =
        written.substr(written.rfind('*') == std::string_view::npos ? 0 : written.rfind('*') + 1);
    check(host.ends_with(tail) || (tail.starts_with('.') && host == tail.substr(1)),
          "the pattern's host names the link's");
    return 0;
}
