// The form of the whitelist_path copy and of the whitelist_url cache: a header
// of "name: value" lines, an empty line, then the rules. Text in, text out.
#include "url_rules.h"

#include <charconv>

#include "nb_utils.h"

namespace {

constexpr std::string_view first_lines[] = {"Ostrilo rule file copy", "Ostrilo central rule list"};

// The header's fields in the order they are written; each read by one setter.
// A field of the central list only is left out of the copy's header.
struct header_field {
    std::string_view name;
    bool central_only;
    void (*set)(rule_copy_header& header, std::string_view value, bool& ok);
    std::string (*get)(const rule_copy_header& header);
};

const header_field header_fields[] = {
    {"source", false, [](rule_copy_header& h, std::string_view v, bool&) { h.source = v; },
     [](const rule_copy_header& h) { return h.source; }},
    {"format", true,
     [](rule_copy_header& h, std::string_view v, bool& ok) {
         h.format = v;
         ok = v == "rules" || v == "site list";
     },
     [](const rule_copy_header& h) { return h.format; }},
    {"read", false, [](rule_copy_header& h, std::string_view v, bool&) { h.time = v; },
     [](const rule_copy_header& h) { return h.time; }},
    {"etag", true, [](rule_copy_header& h, std::string_view v, bool&) { h.etag = v; },
     [](const rule_copy_header& h) { return h.etag; }},
    {"last-modified", true, [](rule_copy_header& h, std::string_view v, bool&) { h.last_modified = v; },
     [](const rule_copy_header& h) { return h.last_modified; }},
    // The length has a fixed width, so that the header can be written before
    // the body and written again, the same size, once the body is known.
    {"length", false,
     [](rule_copy_header& h, std::string_view v, bool& ok) {
         const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), h.length);
         ok = error == std::errc() && end == v.data() + v.size() && !v.empty();
     },
     [](const rule_copy_header& h) { return format_bounded(16, "%012zu", h.length); }},
    {"sha256", false,
     [](rule_copy_header& h, std::string_view v, bool& ok) {
         h.sha256 = v;
         ok = v.size() == 64 && v.find_first_not_of("0123456789abcdef") == std::string_view::npos;
     },
     [](const rule_copy_header& h) { return h.sha256; }},
};

bool in_form(const header_field& field, store_form form)
{
    return !field.central_only || form == store_form::central_list;
}

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

std::string rule_copy_header_text(const rule_copy_header& header, store_form form)
{
    std::string text = std::string(first_lines[static_cast<int>(form)]) + "\r\n";
    for (const header_field& field : header_fields)
        if (in_form(field, form))
            text += std::string(field.name) + ": " + field.get(header) + "\r\n";
    return text + "\r\n";
}

parsed_rule_copy parse_rule_copy(std::string_view text, bool complete, store_form form)
{
    parsed_rule_copy copy;
    std::size_t at = 0;
    if (next_line(text, at) != first_lines[static_cast<int>(form)]) {
        copy.damage = form == store_form::whitelist_copy ? "no copy header" : "no cache header";
        return copy;
    }
    for (const header_field& field : header_fields) {
        if (!in_form(field, form))
            continue;
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
