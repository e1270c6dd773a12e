// The whitelist_url list as its cache keeps it: a site list converted by the
// import's own code, always for host matching, or rule lines taken as
// served. Text in, text out; with sitelist.cpp in the library ostrilo_sitelist.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "central_list.h"
#include "nb_utils.h"
#include "sitelist.h"

namespace {

constexpr std::size_t line_piece_bytes = 4094;
constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

// Skips white space, the XML declaration, processing instructions, comments
// and a document type before the root element; gives where the root's "<"
// is, or none.
std::optional<std::size_t> root_element_at(std::string_view xml)
{
    std::size_t at = xml.starts_with(utf8_bom) ? utf8_bom.size() : 0;
    for (;;) {
        at = xml.find_first_not_of(" \t\r\n", at);
        if (at == std::string_view::npos || xml[at] != '<')
            return std::nullopt;
        const std::string_view rest = xml.substr(at);
        const std::string_view end = rest.starts_with("<?")     ? "?>"
                                     : rest.starts_with("<!--") ? "-->"
                                     : rest.starts_with("<!")   ? ">"
                                                                : "";
        if (end.empty())
            return at;
        const std::size_t close = xml.find(end, at + 2);
        if (close == std::string_view::npos)
            return std::nullopt;
        at = close + end.size();
    }
}

central_conversion refused(std::string why)
{
    central_conversion result;
    result.error = std::move(why);
    return result;
}

// The site list's rules with the note of each site's <site> before its rule lines.
std::string with_site_notes(std::string_view rules, const std::vector<sitelist_origin>& origins)
{
    std::string out;
    out.reserve(rules.size() + origins.size() * 40);
    std::uint32_t line = 1;
    auto origin = origins.begin();
    std::optional<std::uint32_t> last_site;
    for (std::size_t at = 0; at < rules.size(); ++line) {
        const std::size_t end = std::min(rules.find('\n', at), rules.size() - 1);
        if (origin != origins.end() && origin->line == line) {
            if (origin->site_offset != last_site)
                out.append(central_site_note(origin->site_offset)).append("\n");
            last_site = origin->site_offset;
            ++origin;
        }
        out.append(rules.substr(at, end + 1 - at));
        at = end + 1;
    }
    return out;
}

}  // namespace

central_conversion convert_central_list(std::string_view bytes)
{
    central_conversion result;
    if (bytes.size() > sitelist_max_bytes)
        return refused("the list is larger than 32 MiB");
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF") ||
        bytes.substr(0, 2).find('\0') != std::string_view::npos)
        return refused("the list is UTF-16 or UTF-32; save it as UTF-8");
    const std::optional<std::size_t> root = root_element_at(bytes);
    if (root && bytes.substr(*root).starts_with("<site-list") && bytes.size() > *root + 10 &&
        std::string_view(" \t\r\n/>").find(bytes[*root + 10]) != std::string_view::npos) {
        sitelist_options options;
        options.strict_host = true;  // the list's rules are always matched by host
        const sitelist_result list = import_sitelist(bytes, options);
        if (!list.ok)
            return refused(list.error);
        result.format = "site list";
        result.body = with_site_notes(list.rules, list.origins);
        result.rules = list.origins.size();
        result.ok = true;
        return result;
    }
    // A page or XML of another kind read as rule lines would make rules of its text.
    const std::string_view text = bytes.substr(bytes.starts_with(utf8_bom) ? utf8_bom.size() : 0);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos && text[first] == '<') {
        const std::string_view name =
            root ? bytes.substr(*root + 1, bytes.find_first_of(" \t\r\n/>", *root) - *root - 1) : "";
        std::string why = "the list is XML or HTML, but not a site list: its root element is ";
        why += name.empty() ? "not found" : "'";
        why += name.empty() ? "" : quoted_text(name, 40) + "'";
        return refused(why + (name == "rules" ? " (a list of the version 1 schema: save it as version 2)" : ""));
    }
    if (text.empty())
        return refused("the list is empty (a list without rules holds a comment line)");
    // The rule reader reads a line in pieces of 4093 bytes, each as a rule of
    // its own, ends the file at a Ctrl-Z and a line at a NUL.
    std::size_t number = 1;
    for (std::size_t at = 0; at < text.size(); ++number) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.size() >= line_piece_bytes)
            return refused("line " + std::to_string(number) +
                           " is 4094 bytes or longer: it would be read as two rules");
        if (std::any_of(line.begin(), line.end(),
                        [](char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f; }))
            return refused("line " + std::to_string(number) + " holds a control character");
        at = end + 1;
    }
    result.format = "rules";
    result.body = std::string(text);
    result.rules = count_rule_lines(text);
    result.ok = true;
    return result;
}
