// The form of the whitelist_path copy: a header of "name: value" lines, an
// empty line, then the rule file's bytes. Text in, text out.
#include "url_rules.h"

#include <charconv>

#include "nb_utils.h"

namespace {

constexpr std::string_view first_line = "Ostrilo rule file copy";

// The header's fields in the order they are written; each read by one setter.
struct header_field {
    std::string_view name;
    void (*set)(rule_copy_header& header, std::string_view value, bool& ok);
};

const header_field header_fields[] = {
    {"source", [](rule_copy_header& h, std::string_view v, bool&) { h.source = v; }},
    {"read", [](rule_copy_header& h, std::string_view v, bool&) { h.time = v; }},
    {"length",
     [](rule_copy_header& h, std::string_view v, bool& ok) {
         const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), h.length);
         ok = error == std::errc() && end == v.data() + v.size() && !v.empty();
     }},
    {"sha256",
     [](rule_copy_header& h, std::string_view v, bool& ok) {
         h.sha256 = v;
         ok = v.size() == 64 && v.find_first_not_of("0123456789abcdef") == std::string_view::npos;
     }},
};

// The next CR LF line of text from at, or none at the end.
std::optional<std::string_view> next_line(std::string_view text, std::size_t& at)
{
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos)
        return std::nullopt;
    const std::string_view line = text.substr(at, end - at);
    at = end + 2;
    return line;
}

}  // namespace

std::string rule_copy_header_text(const rule_copy_header& header)
{
    // The length has a fixed width, so that the header can be written before
    // the body and written again, the same size, once the body is known.
    const std::string values[] = {header.source, header.time, format_bounded(16, "%012zu", header.length),
                                  header.sha256};
    std::string text = std::string(first_line) + "\r\n";
    for (std::size_t i = 0; i < std::size(header_fields); ++i)
        text += std::string(header_fields[i].name) + ": " + values[i] + "\r\n";
    return text + "\r\n";
}

parsed_rule_copy parse_rule_copy(std::string_view text, bool complete)
{
    parsed_rule_copy copy;
    std::size_t at = 0;
    if (next_line(text, at) != first_line) {
        copy.damage = "no copy header";
        return copy;
    }
    for (const header_field& field : header_fields) {
        const std::optional<std::string_view> line = next_line(text, at);
        bool ok = line && starts_with(*line, std::string(field.name) + ": ");
        if (ok)
            field.set(copy.header, line->substr(field.name.size() + 2), ok);
        if (!ok) {
            copy.damage = "header line \"" + std::string(field.name) + "\" missing or malformed";
            return copy;
        }
    }
    if (next_line(text, at) != std::string_view()) {
        copy.damage = "no empty line after the header";
        return copy;
    }
    copy.body_offset = at;
    if (complete && text.size() - at != copy.header.length)
        copy.damage = "length " + std::to_string(text.size() - at) + " instead of " +
                      std::to_string(copy.header.length) + " bytes";
    return copy;
}
