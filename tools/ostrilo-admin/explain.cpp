// ostrilo-admin explain: the decision value printed as text or JSON.
#include "explain.h"

#include <fstream>

#include "browser_call.h"
#include "nb_utils.h"

namespace {

const char* kind_name(route_kind kind)
{
    switch (kind) {
        case route_kind::viewer:
            return "viewer";
        case route_kind::local:
            return "local";
        case route_kind::remote:
            return "remote";
        case route_kind::bad_destination:
            break;
    }
    return "bad_destination";
}

// Box texts are wide but hold only what the lookup put in (ASCII and bytes
// widened one by one); written back byte by byte.
std::string narrow_bytes(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
        result += static_cast<char>(c);
    return result;
}

// Bytes that are not valid UTF-8 cannot go into JSON strings as they are.
std::string json_safe(const std::string& bytes)
{
    return nlohmann::json(bytes).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::ordered_json optional_json(const std::optional<std::string>& text)
{
    return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
}

// The layers taken off and which link the lookup used.
std::string unwrap_text(const unwrapped_link& link)
{
    const std::string key = format_unbounded(" (unwrap_links=%d)\n", link.mode);
    std::string out;
    for (std::size_t i = 0; i < link.layers.size(); ++i)
        out += format_unbounded("  layer %zu  %s: ", i + 1, link.layers[i].rewriter.c_str()) +
               json_safe(link.layers[i].link) + "\n";
    if (link.left_as_is)
        return out + "  unwrap   left as it came, " + *link.left_as_is + key;
    if (link.layers.empty())
        return out + "  unwrap   no rewriter's link" + key;
    return out +
           (link.mode == 2 ? "  lookup   the inner link, which is also opened"
                           : "  lookup   the inner link; the wrapped link is opened") +
           key;
}

}  // namespace

rule_decision decide_from_files(const std::string& url, const std::vector<std::string>& files, bool strict_host)
{
    rule_decision decision;
    decision.strict_host = strict_host;
    for (const std::string& file : files) {
        decision.consulted.push_back({"--rules", file, std::ifstream(file).good()});
        if (decision.consulted.back().present && consult_rule_file(decision, url, file, lookup_mode::explaining))
            break;
    }
    return decision;
}

explanation explain_decision(const std::string& url, rule_decision decision)
{
    explanation e;
    e.url = url;
    e.decision = std::move(decision);
    std::optional<rule_match> rule;
    if (e.decision.hit)
        rule = e.decision.hit->rule;
    e.plan = plan_route(rule, url);
    return e;
}

void note_strict_host_difference(explanation& e, rule_decision without)
{
    const auto line = [](const rule_decision& d) { return d.hit ? d.hit->line : 0; };
    if (e.decision.strict_host && (without.file != e.decision.file || line(without) != line(e.decision)))
        e.without_strict_host = std::move(without);
}

void apply_safe_arguments(explanation& e)
{
    if (e.decision.stop || e.plan.kind != route_kind::local)
        return;
    e.safe_arguments = true;
    // As Ostrilo.exe hands it on: the wide link, made one argument.
    const std::optional<std::wstring> wide = utf8_to_wide(e.url);
    std::optional<std::wstring> argument;
    if (wide)
        argument = safe_browser_argument(*wide, e.local.file);
    if (argument)
        e.local.safe_argument = wide_to_utf8(*argument);
    e.local.refused = !e.local.safe_argument;
}

explanation explain_files(const std::string& url, const std::vector<std::string>& files, const explain_keys& keys)
{
    const unwrapped_link link = unwrap_link(url, keys.unwrap_links);
    explanation e = explain_decision(link.opened, decide_from_files(link.lookup, files, keys.strict_host));
    if (keys.unwrap_links != 0)
        e.unwrap = link;
    if (keys.strict_host)
        note_strict_host_difference(e, decide_from_files(link.lookup, files, false));
    if (keys.safe_arguments)
        apply_safe_arguments(e);
    return e;
}

void note_deciding_keys(explanation& e, const key_sources& sources)
{
    const auto note = [&](const char* name, bool decided) {
        if (const auto found = sources.find(name); decided && found != sources.end())
            e.keys.push_back({name, found->second.first, found->second.second});
    };
    const rule_place* preset = nullptr;
    for (const rule_place& place : e.decision.consulted)
        if (std::string_view(place.source) == "whitelist_path")
            preset = &place;
    const auto& copy = e.decision.from_copy;
    const bool by_preset = preset && (e.decision.stop || copy || (e.decision.file && *e.decision.file == preset->path));
    const auto& central = e.decision.from_url;
    note("whitelist_url", central && e.decision.file == central->cache);
    note("whitelist_path", by_preset);
    note("whitelist_copy", copy.has_value());
    note("whitelist_timeout_ms", copy && copy->timeout_ms != 0);
    note("unwrap_links", e.unwrap && !e.unwrap->layers.empty() && !e.unwrap->left_as_is);
    note("strict_host_match", e.without_strict_host.has_value());
    note("safe_browser_arguments", e.local.refused || (e.local.safe_argument && *e.local.safe_argument != e.url));
}

nlohmann::ordered_json explanation_json(const explanation& e)
{
    using json = nlohmann::ordered_json;
    json out;
    out["url"] = e.unwrap ? e.unwrap->original : e.url;
    if (e.unwrap) {
        json layers = json::array();
        for (const unwrap_layer& layer : e.unwrap->layers)
            layers.push_back({{"rewriter", layer.rewriter}, {"link", layer.link}});
        out["unwrap"] = {{"mode", e.unwrap->mode},
                         {"layers", layers},
                         {"left_as_is", optional_json(e.unwrap->left_as_is)},
                         {"lookup", e.unwrap->lookup},
                         {"opened", e.unwrap->opened}};
    }
    json places = json::array();
    for (const rule_place& place : e.decision.consulted)
        places.push_back({{"source", place.source}, {"path", place.path}, {"present", place.present}});
    out["consulted"] = places;
    out["strict_host"] = e.decision.strict_host;
    if (!e.keys.empty()) {
        json keys = json::array();
        for (const deciding_key& key : e.keys)
            keys.push_back({{"key", key.name}, {"value", key.value}, {"source", key.source}});
        out["keys"] = keys;
    }
    if (const auto& central = e.decision.from_url)
        out["whitelist_url"] = {{"url", central->url},
                                {"cache", central->cache},
                                {"format", central->format},
                                {"time", central->time},
                                {"site", optional_json(central->site)}};
    if (const auto& copy = e.decision.from_copy) {
        out["whitelist_copy"] = {{"path", copy->path}, {"time", copy->time}, {"error", copy->error}};
        if (copy->timeout_ms != 0)
            out["whitelist_copy"]["timeout_ms"] = copy->timeout_ms;
    }
    if (e.without_strict_host) {
        const rule_decision& w = *e.without_strict_host;
        out["without_strict_host"] = {
            {"file", optional_json(w.file)},
            {"line", w.hit ? w.hit->line : 0},
            {"rule", optional_json(w.hit ? std::optional(w.hit->text) : std::nullopt)},
            {"action", kind_name(plan_route(w.hit ? std::optional(w.hit->rule) : std::nullopt, e.url).kind)}};
    }
    if (e.decision.stop) {
        out["action"] = "stop";
        out["box"] = narrow_bytes(*e.decision.stop);
        return out;
    }
    if (e.decision.hit) {
        const rule_hit& hit = *e.decision.hit;
        out["match"] = {{"file", *e.decision.file},
                        {"line", hit.line},
                        {"rule", hit.text},
                        {"dest", hit.rule.dest},
                        {"browser", optional_json(hit.rule.browser)},
                        {"profile", optional_json(hit.rule.browser_profile)}};
    } else {
        out["match"] = nullptr;
    }
    out["action"] = kind_name(e.plan.kind);
    out["exit_status"] = e.plan.kind == route_kind::bad_destination ? 1 : 0;
    if (e.plan.kind == route_kind::local) {
        out["local_file"] = e.local.file;
        out["browser_mode"] = e.plan.browser_mode;
        out["shell_file"] = optional_json(e.local.shell_file);
        out["shell_parameters"] = optional_json(e.local.shell_parameters);
        out["browser_call"] = optional_json(e.local.browser_call);
        out["safe_arguments"] = e.safe_arguments;
        if (e.safe_arguments) {
            out["browser_argument"] = optional_json(e.local.safe_argument);
            out["refused"] = e.local.refused;
        }
    }
    if (e.plan.kind == route_kind::viewer || e.plan.kind == route_kind::remote) {
        out["handoff_text"] = handoff_utf8(e.plan);
        out["pipe_bytes"] = pipe_bytes(e.plan);
        out["clipboard_text"] = "nburl:" + handoff_utf8(e.plan);
    }
    return out;
}

std::string explanation_text(const explanation& e)
{
    std::string out = (e.unwrap ? e.unwrap->original : e.url) + "\n";
    if (e.unwrap)
        out += unwrap_text(*e.unwrap);
    for (const rule_place& place : e.decision.consulted)
        out +=
            format_unbounded("  %-8s %s: %s\n", place.present ? "found" : "missing", place.source, place.path.c_str());
    if (const auto& central = e.decision.from_url)
        out += "  central  " + json_safe(central->url) + " (" + central->format + ", fetched " + central->time +
               "): its cache, its rules matched by host (whitelist_url)\n";
    if (const auto& copy = e.decision.from_copy)
        out += "  copy     whitelist_path cannot be read (" + copy->error + "); its copy of " + copy->time +
               " answers (whitelist_copy=1" +
               (copy->timeout_ms ? ", whitelist_timeout_ms=" + std::to_string(copy->timeout_ms) : "") + ")\n";
    for (const deciding_key& key : e.keys)
        out += "  key      " + key.name + "=" + key.value + " (" + key.source + ")\n";
    if (e.decision.stop)
        return out + "  Ostrilo stops with the box: " + json_safe(narrow_bytes(*e.decision.stop)) + "\n";
    if (e.local.file)
        out += "  matched  nothing looked up: the link is a readable file\n";
    else if (e.decision.hit)
        out += format_unbounded("  matched  %s:%d: %s\n", e.decision.file->c_str(), e.decision.hit->line,
                                e.decision.hit->text.c_str());
    else
        out += "  matched  no rule\n";
    if (const auto& central = e.decision.from_url; central && central->site)
        out += "  site     " + *central->site + "\n";
    if (e.decision.strict_host && !e.without_strict_host) {
        out += "  strict   strict_host_match=1 applied; the same without it\n";
    } else if (e.without_strict_host) {
        const rule_decision& w = *e.without_strict_host;
        const route_plan lax = plan_route(w.hit ? std::optional(w.hit->rule) : std::nullopt, e.url);
        out += "  strict   strict_host_match=1 applied; without it: " +
               (w.hit ? format_unbounded("%s:%d: %s", w.file->c_str(), w.hit->line, w.hit->text.c_str())
                      : std::string("no rule")) +
               " (" + kind_name(lax.kind) + ")\n";
    }
    switch (e.plan.kind) {
        case route_kind::local:
            out +=
                format_unbounded("  action   local browser (mode %d): %s\n", e.plan.browser_mode, e.plan.note.c_str());
            if (e.local.refused) {
                out +=
                    "  refused  safe_browser_arguments=1: the link cannot be passed as one safe argument; "
                    "nothing is opened (ERROR record)\n";
                break;
            }
            if (e.local.safe_argument)
                out += "  argument " + json_safe(*e.local.safe_argument) + " (safe_browser_arguments=1)\n";
            if (e.local.shell_file)
                out += "  shell    open " + json_safe(*e.local.shell_file) +
                       (e.local.shell_parameters ? " with parameters " + json_safe(*e.local.shell_parameters) : "") +
                       "\n";
            if (e.local.browser_call)
                out +=
                    "  " + std::string(e.local.shell_file ? "else     " : "command  ") + *e.local.browser_call + "\n";
            break;
        case route_kind::viewer:
        case route_kind::remote:
            out += "  action   hand to the viewer: " + json_safe(handoff_utf8(e.plan)) + "\n";
            out += "  pipe     " + json_safe(pipe_bytes(e.plan)) + "\n";
            break;
        case route_kind::bad_destination:
            out += "  action   none, exit status 1: the destination is neither \"local\" nor \"remote\"\n";
            break;
    }
    return out;
}
