// The fuzz targets, one binary each (OSTRILO_FUZZ_TARGET names the function): fuzz_text gives one
// text to every single-text reader, fuzz_rules a rule line and a link, fuzz_files a link (or a rule
// file) and a rule file; the parts are split at the first NUL. A broken property is a finding.
#include <algorithm>
#include <cstring>
#include <sstream>
#include <tuple>

#include <pugixml.hpp>

#include "browser_call.h"
#include "central_list.h"
#include "config_keys.h"
#include "explain.h"
#include "kvix_environment.h"
#include "lint.h"
#include "nb_utils.h"
#include "sitelist.h"
#include "unique_resource.h"
#include "viewer.h"

namespace {

std::pair<std::string_view, std::string_view> split_at_nul(std::string_view text)
{
    const std::size_t nul = std::min(text.find('\0'), text.size());
    return {text.substr(0, nul), text.substr(std::min(nul + 1, text.size()))};
}

void check(bool holds, const char* property)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

// The lines of a text, without their line feeds.
std::vector<std::string_view> lines_of(std::string_view text)
{
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size(); at = std::min(text.find('\n', at), text.size()) + 1)
        lines.push_back(text.substr(at, text.find('\n', at) - at));
    return lines;
}

// The site-list conversion (ostrilo-admin import-sitelist) of one list, with and without --strict-host.
void check_sitelist(std::string_view xml)
{
    // The hosts the list names: each <site>'s url without white space, scheme, port and path.
    pugi::xml_document list;
    const bool parsed =
        list.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_comments, pugi::encoding_utf8);
    std::vector<std::string> hosts;
    for (const pugi::xml_node site : list.document_element().children("site")) {
        std::string url = ascii_lower(site.attribute("url").value());
        url = url.substr(std::min(url.find_first_not_of(" \t\r\n"), url.size()));
        url.erase(0, url.starts_with("https://") ? 8 : url.starts_with("http://") ? 7 : 0);
        hosts.push_back(url.substr(0, url.find_first_of(":/ \t\r\n")));
    }
    for (const bool strict : {false, true}) {
        sitelist_options options;
        options.strict_host = strict;
        const sitelist_result result = import_sitelist(xml, options);
        check(result.ok ? result.error.empty() : result.rules.empty() && !result.error.empty(), "rules or a reason");
        std::vector<std::string_view> rules;
        std::size_t line_number = 0;
        for (const std::string_view line : lines_of(result.rules)) {
            ++line_number;
            check(line.size() < 4094 &&
                      std::none_of(line.begin(), line.end(), [](char c) { return c >= 0 && (c < 0x20 || c == 0x7f); }),
                  "no line of 4094 bytes or more, no control character");
            if (line.starts_with('#'))
                continue;
            std::string_view host = line.substr(0, line.find_first_of(":/|"));
            if (strict && host.starts_with("*."))
                host.remove_prefix(2);
            const std::size_t bar = line.find('|');
            const std::string_view rule = line.substr(std::min(bar + 1, line.size()));
            check(bar != std::string_view::npos && bar > 0 && line.find(' ') == std::string_view::npos &&
                      std::find(hosts.begin(), hosts.end(), host) != hosts.end() &&
                      (rule == "local|edge" || rule == "local|ie" || rule == "remote"),
                  "every rule is whole: its host an entry's host (or its \"*.\" form), its action one of the options");
            check(rules.size() < result.origins.size() && result.origins[rules.size()].line == line_number &&
                      xml.substr(result.origins[rules.size()].site_offset, 5) == "<site",
                  "each rule line names its <site>");
            rules.push_back(line);
        }
        check(rules.size() == result.origins.size(), "one origin per rule line");
        if (!result.ok || !parsed)
            continue;

        // The same list pretty-printed, with white space around each <open-in>'s text and url: the same rules.
        for (pugi::xml_node node = list.first_child(); node;) {
            if (std::string_view(node.name()) == "open-in") {
                node.prepend_child(pugi::node_pcdata).set_value("\n    ");
                node.append_child(pugi::node_pcdata).set_value("\n  ");
            }
            if (pugi::xml_attribute url = node.attribute("url"))
                url.set_value((" " + std::string(url.value()) + "\t").c_str());
            pugi::xml_node next = node.first_child();
            for (pugi::xml_node up = node; !next && up; up = up.parent())
                next = up.next_sibling();
            node = next;
        }
        std::ostringstream pretty;
        list.save(pretty, "  ", pugi::format_indent, pugi::encoding_utf8);
        const sitelist_result again = import_sitelist(pretty.str(), options);
        std::vector<std::string_view> again_rules = lines_of(again.rules);
        std::erase_if(again_rules, [](std::string_view line) { return line.starts_with('#'); });
        check(again.ok && again_rules == rules, "pretty-printed, the same rules");
        list.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_comments, pugi::encoding_utf8);
    }
}

[[maybe_unused]] int fuzz_text(std::string_view text)
{
    // Key/value files: each piece the reader takes (fgets with 4095 bytes, up to a NUL) split into key and value.
    std::string bytes(text);
    const unique_file file(fmemopen(bytes.data(), bytes.size(), "r"));
    char piece[4095];
    while (!bytes.empty() && std::fgets(piece, sizeof piece, file.get())) {
        const auto pair = split_config_line(std::string_view(piece, std::strlen(piece)));
        if (!pair)
            continue;
        for (const std::string_view part : {pair->first, pair->second})
            check(!part.empty() && part.front() != ' ' && part.back() != ' ', "key and value are trimmed, not empty");
        check(pair->second.find_first_of("\r\n") == std::string::npos, "a value ends at the line break");
        check(keys_equal(pair->first, ascii_lower(pair->first)), "keys compare without case");
        // Every key takes a value of the file only within its range, else its default.
        for (const config_key& key : config_keys()) {
            const unsigned long number = file_number(key, pair->second);
            check(number == key.fallback || number_fits(key, number), "a key's number from the file is in range");
        }
    }

    // The command line (a C string): the -configdir folder and the split of strict_command_line=1.
    const std::string_view line = split_at_nul(text).first;
    if (const std::optional<std::string> folder = get_configdir_from_cmdline(std::string(line)))
        check(folder->ends_with("\\") && !folder->ends_with("\\\\") &&
                  line.find(folder->substr(0, folder->size() - 1)) != std::string::npos,
              "the folder is text of the line, ending in exactly one backslash");
    const auto split = split_strict_command_line(line);
    check(!split || (split->head_end <= line.size() &&
                     (!split->link ||
                      (split->head_end + 7 == split->link->first && split->link->first <= split->link->second &&
                       split->link->second < line.size() && line[split->link->second] == '"'))),
          "the head lies in the line; the link follows its marker and ends at a quote");

    // The URL encoding of the hand-off and the cut that keeps UTF-8 whole.
    const std::size_t size = text.size();
    const std::string encoded = url_encode(text),
                      alnum = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    check(encoded.find_first_not_of(alnum + "!#$%&'()*+,-./:;=?@_~\\|") == std::string::npos &&
              encoded.size() >= size && encoded.size() <= 3 * size,
          "each byte stays, or becomes '+' or an escape: no blank, quote, control or non-ASCII byte");
    for (const std::size_t bound : {std::size_t{0}, size / 2, size - (size > 0), std::size_t{4093}}) {
        const std::size_t cut = utf8_cut_length(text, bound);
        check(cut <= std::min(bound, size) && std::min(bound, size) - cut <= 3, "at most 3 bytes below the bound");
        check(!is_valid_utf8(text) || is_valid_utf8(text.substr(0, cut)), "a cut of valid UTF-8 stays valid");
    }

    // The bounded formatter, and the browser calls of a path and a link as UTF-16 units (as on Windows).
    for (const std::size_t count : {1, 2, 4095})
        check(format_bounded(count, "%s", std::string(line).c_str()) == line.substr(0, count - 1),
              "count - 1 bytes kept");
    std::wstring units;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units += static_cast<wchar_t>(static_cast<std::uint8_t>(text[i]) | static_cast<std::uint8_t>(text[i + 1]) << 8);
    const std::wstring path = units.substr(0, units.find(L'\0')),
                       rest = units.substr(std::min(units.size(), path.size() + 1));
    const std::wstring url = rest.substr(0, rest.find(L'\0'));
    const std::wstring call = browser_call_text(path, url), edge = edge_protocol_text(url);
    check((L"\"" + path + L"\" \"" + url + L"\"").starts_with(call) && call.size() < browser_call_size, "call cut");
    check((L"microsoft-edge:" + url).starts_with(edge) && edge.size() <= 4094, "the edge call, cut");
    if (const std::optional<std::wstring> argument = safe_browser_argument(url, false)) {
        check(argument->front() != L'-' && argument->front() != L'/' && argument->size() <= safe_argument_limit &&
                  safe_browser_call_text(path, *argument) == L"\"" + path + L"\" " + *argument,
              "a safe argument starts no switch, fits and is not cut");
        for (const wchar_t c : *argument)
            check(c > 0x20 && c != L'"' && c != 0x7f && (c < 0x80 || c > 0x9f), "no blank, quote or control character");
    }
    if (const std::optional<std::wstring> argument = safe_browser_argument(url, true))
        check(*argument == L"\"" + url + L"\"" && url.find(L'"') == std::wstring::npos,
              "a file is one quoted argument");

    // ostrilo-admin import-sitelist, as fuzz_sitelist checks it.
    check_sitelist(text);
    return 0;
}

[[maybe_unused]] int fuzz_rules(std::string_view input)
{
    const auto [line, rest] = split_at_nul(input);
    const std::string url(split_at_nul(rest).first);
    const std::string_view pattern = line.substr(0, 4094);  // a rule line's cut

    // The rule line's fields joined again give the line up to a fifth field; no destination means local.
    const rule_match rule = parse_rule_line(line);
    const bool has_dest = line.find('|') != std::string_view::npos;
    check(has_dest || rule.dest == "local", "no destination field means local");
    std::string joined = rule.url_expr + (has_dest ? "|" + rule.dest : "");
    for (const auto& field : {rule.browser, rule.browser_profile})
        joined += field ? "|" + *field : "";
    check(line.starts_with(joined) && line.substr(joined.size(), 1).find_first_not_of('|') == std::string::npos,
          "fields are the text between separators");

    // The pattern language: each character matches itself, a star a star.
    match_url_expr(pattern, url);
    check(match_url_expr(pattern, pattern), "a pattern matches its own text");

    // strict_host_match=1: the pattern's host after its last star ends the link's host; nothing in
    // the path, query or user name stands in for it.
    const auto host_of = [](std::string_view text) { return text.substr(0, text.find_first_of("/?#:")); };
    const std::optional<std::string> form = strict_link_host_form(url);
    check(!form || host_of(*form).find_first_of("\\@%ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos,
          "the host is decoded, lower case and without user name");
    if (match_url_expr_strict(pattern, url)) {
        const std::string_view host = host_of(*form), written = host_of(pattern);
        const std::string_view tail = written.substr(written.rfind('*') + 1);  // npos + 1: the whole host
        check(host.ends_with(tail) || (tail.starts_with('.') && host == tail.substr(1)),
              "the pattern's host names the link's");
    }

    // unwrap_links: the link as it came, or an absolute http(s) link reached through at most four layers,
    // each taken off a link of a listed rewriter.
    for (const int mode : {1, 2}) {
        const unwrapped_link u = unwrap_link(url, mode);
        check(u.layers.size() <= unwrap_layer_limit, "at most four layers");
        const bool kept = u.left_as_is || u.layers.empty();
        check(kept ? u.lookup == url && u.opened == url : u.lookup == u.layers.back().link, "inner or as it came");
        check((mode == 2 && !kept) || u.opened == url, "the mode picks the link opened");
        // With 2, the inner link is opened as one argument.
        check(mode == 1 || kept ||
                  std::none_of(u.opened.begin(), u.opened.end(),
                               [](char c) { return c == '"' || c == 0x7f || (c >= 0 && c <= 0x20); }),
              "the opened inner link holds no blank, quote or control character");
        for (std::size_t i = 0; i < u.layers.size() && !kept; ++i) {
            const std::string& link = u.layers[i].link;
            const std::string head = ascii_lower(link.substr(0, 8));
            const std::size_t after = head.starts_with("https://") ? 8 : head.starts_with("http://") ? 7 : 0;
            const auto form = after ? strict_link_host_form(std::string_view(link).substr(after)) : std::nullopt;
            check(rewriter_of(i == 0 ? url : u.layers[i - 1].link) == u.layers[i].rewriter && form &&
                      form->find_first_of(":/?#") != 0 && is_valid_utf8(link) &&
                      std::none_of(link.begin(), link.end(), [](char c) { return c == 0x7f || (c >= 0 && c < 0x20); }),
                  "each layer taken off a listed rewriter's host gives an absolute http(s) link in UTF-8");
        }
    }
    // The link, and each link taken off it, unwrapped as written and as a browser sends it: the same inner
    // link, or one of the two left as it came. A browser sends its own form unchanged.
    std::vector<std::string> links = {url};
    for (const unwrap_layer& layer : unwrap_link(url, 1).layers)
        links.push_back(layer.link);
    for (const std::string& link : links) {
        const std::string sent = browser_form(link);
        const unwrapped_link as_written = unwrap_link(link, 1), as_sent = unwrap_link(sent, 1);
        const auto taken = [](const unwrapped_link& u) { return !u.left_as_is && !u.layers.empty(); };
        check(!taken(as_written) || !taken(as_sent) || as_written.lookup == as_sent.lookup,
              "the link as written and as sent give the same inner link, or one is left as it came");
        check(browser_form(sent) == sent, "a browser sends its own form unchanged");
    }

    // The decision for the rule line (none when empty) and what follows, as ostrilo-admin explain shows it.
    rule_decision decision;
    if (!line.empty()) {
        decision.file = "url whitelist.txt";
        decision.hit = rule_hit{parse_rule_line(ascii_lower(line)), 1, std::string(line)};
    }
    const explanation e = explain_decision(url, decision);
    explanation_json(e).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    explanation_text(e);
    const std::string pipe = pipe_bytes(e.plan);
    check(pipe.find('\0') == pipe.size() - 1, "the pipe message ends at its one NUL");
    check(e.plan.kind != route_kind::viewer || e.plan.viewer_text == url, "without a rule the link goes as it is");
    check(
        e.plan.kind != route_kind::remote || (e.plan.viewer_text.size() <= 4093 && is_valid_utf8(handoff_utf8(e.plan))),
        "a rule's hand-off is UTF-8 of at most 4093 bytes");
    return 0;
}

// A hit must be a piece of its line as fgets with 4095 bytes reads the file.
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

[[maybe_unused]] int fuzz_files(std::string_view input)
{
    // The second part scanned as a rule file for the first, with and without strict_host_match.
    const auto [first, second] = split_at_nul(input);
    std::string bytes(second);
    for (const bool strict : {false, true}) {
        const unique_file file(fmemopen(bytes.data(), bytes.size(), "r"));
        const std::optional<rule_hit> hit =
            bytes.empty() ? std::nullopt : find_rule_in_file(normalise_url(first), file.get(), strict);
        if (!hit)
            continue;
        check(!hit->text.empty() && hit->text.front() != '#' &&
                  hit->rule.dest == parse_rule_line(ascii_lower(hit->text)).dest,
              "a hit is a rule, not a note");
        std::rewind(file.get());
        check(piece_on_line(*hit, file.get()), "a hit is a piece of its line");
    }

    // ostrilo-admin lint over both parts as two rule files.
    const std::vector<rule_file_text> files = {{"a\\url whitelist.txt", std::string(first)},
                                               {"b\\url_whitelist.txt", bytes}};
    const std::vector<lint_finding> findings = lint_rule_files(files);
    for (const lint_finding& f : findings)
        check(f.line >= 1 && f.column >= 1 && !f.code.empty() && !f.text.empty() &&
                  (f.file == files[0].path || f.file == files[1].path),
              "a finding has a linted file, a place, a text and a code");
    const auto place = [&](const lint_finding& f) { return std::tuple(f.file != files[0].path, f.line, f.column); };
    check(std::is_sorted(findings.begin(), findings.end(), [&](auto& a, auto& b) { return place(a) < place(b); }),
          "findings in the order of the files, then by line and column");
    const bool error = std::any_of(findings.begin(), findings.end(), [](auto& f) { return f.error; });
    check(lint_exit_status(findings) == (error ? 2 : findings.empty() ? 0 : 1), "the exit status follows the findings");
    return 0;
}

[[maybe_unused]] int fuzz_sitelist(std::string_view xml)
{
    check_sitelist(xml);
    // Served as whitelist_url: converted for host matching, or taken as rule lines only when each reads as written;
    // markup is a site list or refused.
    const central_conversion served = convert_central_list(xml);
    for (std::string_view line : lines_of(served.body)) {
        line.remove_suffix(line.ends_with('\r'));
        check(line.size() < 4094 && std::none_of(line.begin(), line.end(),
                                                 [](char c) { return c >= 0 && c != '\t' && (c < 0x20 || c == 0x7f); }),
              "a served list's lines read as written");
    }
    const std::size_t first = served.body.find_first_not_of(" \t\r\n");
    check(served.ok != !served.error.empty() &&
              (served.format != "rules" || first == std::string::npos || served.body[first] != '<'),
          "markup is a site list or refused");
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return OSTRILO_FUZZ_TARGET({reinterpret_cast<const char*>(data), size});
}
