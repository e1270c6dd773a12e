// ostrilo-admin status: this user's machine as Ostrilo sees it, read-only.
#include "here.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "central_list.h"
#include "config_keys.h"
#include "kvix_environment.h"
#include "lint.h"
#include "nb_utils.h"
#include "registration.h"
#include "run_context.h"
#include "unique_resource.h"
#include "url_rules.h"
#include "viewer.h"

namespace {

struct association {
    const char* what;        // as shown
    const char* progid;      // what -setregistry registers
    const char* choice_key;  // under HKEY_CURRENT_USER, without "\UserChoice"
};

const association associations[] = {
    {"http", "NB.HTTP", "Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http"},
    {"https", "NB.HTTPS", "Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\https"},
    {".html", "NB.HTML", "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html"},
};

const char register_fix[] = "run Ostrilo.exe -setregistry";

// The user picks Ostrilo by the name Windows lists it under. Without APPDATA
// the product name's search would stop with a box, so the name stays general.
std::string default_fix(run_context& run)
{
    const std::string name = std::getenv("APPDATA") ? wide_to_utf8(get_application_name(run)).value_or("") : "";
    return "open Settings > Apps > Default apps (ms-settings:defaultapps; on Windows 7 Control Panel > Default "
           "Programs) and choose " +
           (name.empty() ? std::string("Feldrun <product name> Browserweiche") : name) + " for it";
}

struct status_line {
    bool ok;
    std::string topic;
    std::string text;
    std::string fix;
    nlohmann::ordered_json more = nullptr;  // further members of its --json object
};

// The program of an open command: the first quoted run, or the first word.
std::string command_program(const std::string& command)
{
    if (starts_with(command, "\"")) {
        const std::size_t end = command.find('"', 1);
        return command.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    }
    return command.substr(0, command.find(' '));
}

void check_registration(std::vector<status_line>& lines)
{
    for (const association& a : associations) {
        const std::string key = std::string("Software\\Classes\\") + a.progid + "\\shell\\open\\command";
        const std::string command = read_reg_string(key.c_str(), nullptr);
        if (command.empty()) {
            lines.push_back(
                {false, std::string("registration ") + a.what, "HKCU\\" + key + " is missing", register_fix});
            continue;
        }
        const std::string program = command_program(command);
        const std::optional<std::string> dir = get_configdir_from_cmdline(command);
        const std::string with = dir ? " with -configdir " + *dir : " without -configdir";
        if (file_exists(program))
            lines.push_back({true, std::string("registration ") + a.what, "opens " + program + with, ""});
        else
            lines.push_back({false, std::string("registration ") + a.what,
                             "opens " + program + ", which does not exist", register_fix});
    }
}

void check_defaults(run_context& run, std::vector<status_line>& lines)
{
    const std::string fix = default_fix(run);
    for (const association& a : associations) {
        for (const char* choice : {"UserChoice", "UserChoiceLatest"}) {
            const std::string key = std::string(a.choice_key) + "\\" + choice;
            const std::string progid = read_reg_string(key.c_str(), "ProgId");
            const std::string topic = std::string("default ") + a.what + " (" + choice + ")";
            if (progid.empty()) {
                // Only current Windows 11 has UserChoiceLatest.
                if (std::string_view(choice) == "UserChoice")
                    lines.push_back({false, topic, "no choice recorded: Windows asks or takes its own", fix});
                continue;
            }
            if (progid == a.progid)
                lines.push_back({true, topic, "Ostrilo (" + progid + ")", ""});
            else
                lines.push_back({false, topic, "another program: " + progid, fix});
        }
    }
}

// True when an open command has the shape strict_command_line=1 takes: the
// link "%1" last, behind -url, so that nothing in it can follow as a switch.
bool has_strict_shape(const std::string& command)
{
    const auto split = split_strict_command_line(std::string_view(command));
    return split && split->link && command.substr(split->link->first, split->link->second - split->link->first) == "%1";
}

// The opt-in keys of ostrilo.cfg: on or off, and what each closes.
void check_hardening(run_context& run, std::vector<status_line>& lines)
{
    const auto on = [](int value) { return value == 1; };
    lines.push_back({true, "safe_browser_arguments",
                     on(get_safe_browser_arguments(run))
                         ? "on: a link reaches the local browser as one argument or is not opened"
                         : "off: a link reaches the local browser as it is; blanks or quotes in it can add "
                           "browser switches (opt in with safe_browser_arguments=1 in ostrilo.cfg)",
                     ""});
    lines.push_back({true, "strict_host_match",
                     on(get_strict_host_match(run))
                         ? "on: a '*' in a rule's host stays within the link's host; a path or query cannot "
                           "pose as a host"
                         : "off: a '*' before a rule's host also matches a path or query that names the host "
                           "(opt in with strict_host_match=1 in ostrilo.cfg)",
                     ""});
    lines.push_back({true, "settings_page",
                     on(get_settings_page(run))
                         ? "on: -setregistry opens the Default apps page of Settings that fits this Windows (on "
                           "Windows 11 from 22000.1817 and 22621.1555 Ostrilo's own page)"
                         : "off: -setregistry opens the Control Panel's Default Programs page, which on Windows 10 "
                           "and 11 only leads to the Default apps list (opt in with settings_page=1 in ostrilo.cfg)",
                     ""});
    // One text per value of unwrap_links.
    const char* const unwrap_texts[] = {
        "off: a link wrapped by mail security (Safe Links, URL Defense, ...) is looked up by the rewriter's host "
        "(opt in with unwrap_links=1 or 2 in ostrilo.cfg)",
        "1: a link wrapped by mail security is looked up by the link inside it; the wrapped link is opened",
        "2: a link wrapped by mail security is looked up and opened as the link inside it; the rewriter's check at "
        "the click is skipped"};
    lines.push_back({true, "unwrap_links", unwrap_texts[get_unwrap_links(run)], ""});
    if (!on(get_strict_command_line(run))) {
        lines.push_back({true, "strict_command_line",
                         "off: -configdir is searched for in the whole command line, link included; a link can "
                         "choose the configuration folder (opt in with strict_command_line=1 in ostrilo.cfg)",
                         ""});
        return;
    }
    std::string loose;
    for (const association& a : associations) {
        const std::string key = std::string("Software\\Classes\\") + a.progid + "\\shell\\open\\command";
        const std::string command = read_reg_string(key.c_str(), nullptr);
        if (!command.empty() && !has_strict_shape(command))
            loose += std::string(loose.empty() ? "" : ", ") + a.what;
    }
    if (loose.empty())
        lines.push_back({true, "strict_command_line",
                         "on: no text inside a link can set the configuration folder or a switch; the open "
                         "commands end in -url \"%1\"",
                         ""});
    else
        lines.push_back({false, "strict_command_line",
                         "on, but the open command of " + loose +
                             " does not end in -url \"%1\": Ostrilo opens no link started with it",
                         "run Ostrilo.exe -setregistry again"});
}

// Where to change a key that is set: its policy, or ostrilo.cfg.
std::string where_set(run_context& run, const char* name)
{
    const key_value value = key_in_force(run, *find_config_key(name));
    return value.source == key_source::file || value.source == key_source::fallback ? "ostrilo.cfg"
                                                                                    : "the " + key_source_text(value);
}

void check_file(std::vector<status_line>& lines, const char* topic, const std::optional<std::string>& path, bool needed,
                const char* fix)
{
    if (path)
        lines.push_back({true, topic, "found: " + *path, ""});
    else
        lines.push_back({!needed, topic, "not found", needed ? fix : ""});
}

void check_files(run_context& run, std::vector<status_line>& lines)
{
    const std::optional<std::string> cfg = find_ostrilo_cfg(run);
    check_file(lines, "ostrilo.cfg", cfg, false, "");
    // Ostrilo reads a byte order mark as part of the first key, which so goes unknown.
    char head[4096] = {};
    const unique_file file(cfg ? std::fopen(cfg->c_str(), "rb") : nullptr);
    const std::size_t length = file ? std::fread(head, 1, sizeof head, file.get()) : 0;
    if (const std::optional<std::string> key = key_behind_bom(std::string_view(head, length)))
        lines.push_back({false, "ostrilo.cfg",
                         "it begins with a UTF-8 byte order mark, so Ostrilo never knows its first key '" + *key + "'",
                         "save it without BOM, or begin it with a line without '='"});
    if (std::optional<std::string> preset = get_whitelist_path(run); preset && !preset->empty()) {
        if (file_exists(*preset))
            lines.push_back({true, "whitelist_path", *preset, ""});
        else
            lines.push_back(
                {false, "whitelist_path",
                 *preset + (get_whitelist_copy(run) == 1
                                ? " cannot be read: links use its copy if whitelist_copy below shows "
                                  "one, else they stop with an error box"
                                : " does not exist: every link stops with an error box"),
                 "correct whitelist_path in " + where_set(run, "whitelist_path") + " or put the file there"});
    }
    check_file(lines, "kvix.cfg", find_kvix_cfg(run), false, "");
    // Finding kvix.vnc would stop with a box without APPDATA.
    if (std::getenv("APPDATA"))
        check_file(lines, "kvix.vnc", find_kvix_vnc(run), false, "");
    else
        lines.push_back({false, "APPDATA", "not set: Ostrilo stops with an error box", "log on again or set APPDATA"});
    const std::vector<std::string> rule_files = rule_files_here(run);
    if (rule_files.empty())
        lines.push_back({false, "rule files", "none found: every link goes to the viewer",
                         "put \"url whitelist.txt\" beside Ostrilo.exe or in the installation folder"});
    for (const std::string& file : rule_files)
        lines.push_back({true, "rule file", file, ""});
}

// whitelist_copy=1: where the copy is, of which file, from when, and whether
// it holds what the file holds now.
void check_copy(run_context& run, std::vector<status_line>& lines)
{
    const char topic[] = "whitelist_copy";
    const std::optional<std::string> preset = get_whitelist_path(run);
    if (get_whitelist_copy(run) != 1 || !preset || preset->empty()) {
        lines.push_back({true, topic,
                         get_whitelist_copy(run) == 1
                             ? "on, but no whitelist_path is set: nothing is copied"
                             : "off: a whitelist_path file that cannot be read stops every link with an error box "
                               "(opt in with whitelist_copy=1 in ostrilo.cfg)",
                         ""});
        return;
    }
    const rule_copy copy = read_rule_copy(true);
    const std::string where = copy.path.empty() ? "(no folder: LOCALAPPDATA unknown)" : copy.path;
    const std::string refresh = "open a link while " + *preset + " can be read, or delete " + where;
    const rule_copy_header& header = copy.parsed.header;
    std::string reason;
    if (!copy.present) {
        lines.push_back(
            {true, topic, "on: no copy yet at " + where + "; the next link read from the file makes it", ""});
    } else if (copy.parsed.damage) {
        lines.push_back(
            {false, topic, "on: the copy " + where + " is damaged (" + *copy.parsed.damage + "): not used", refresh});
    } else if (header.source != *preset) {
        lines.push_back({true, topic,
                         "on: " + where + " is a copy of " + header.source +
                             ", not of this whitelist_path: not used; the next link read from the file replaces it",
                         ""});
    } else {
        const std::optional<bool> same = file_matches_copy(*preset, copy, reason);
        const std::string state = !same   ? "the file cannot be read now (" + reason + "): links use this copy"
                                  : *same ? "matches the file now"
                                          : "differs from the file now: the next link refreshes it (an empty file "
                                            "never replaces rules)";
        lines.push_back(
            {true, topic, "on: " + where + ", the copy of " + *preset + " read " + header.time + "; " + state, ""});
    }
}

// whitelist_timeout_ms: how long the file may take before its copy answers.
void check_timeout(run_context& run, std::vector<status_line>& lines)
{
    const unsigned long timeout = get_whitelist_timeout_ms(run);
    const std::string ms = std::to_string(timeout) + " ms";
    if (timeout == 0)
        lines.push_back({true, "whitelist_timeout_ms",
                         "off: Ostrilo waits as long as the whitelist_path file takes to be opened and read (opt in "
                         "with whitelist_timeout_ms=N, N from 1 to " +
                             std::to_string(max_timeout_ms) + ", and whitelist_copy=1 in ostrilo.cfg)",
                         ""});
    else if (get_whitelist_copy(run) != 1)
        lines.push_back({false, "whitelist_timeout_ms",
                         ms + ", but not used: it takes effect only with whitelist_copy=1",
                         "set whitelist_copy=1 in ostrilo.cfg, or drop whitelist_timeout_ms"});
    else
        lines.push_back({true, "whitelist_timeout_ms",
                         "on: a whitelist_path file not opened and read within " + ms +
                             " is answered for by its copy; without an intact copy Ostrilo waits on",
                         ""});
}

std::string age_text(long long seconds)
{
    const long long minutes = seconds / 60;
    return minutes < 120    ? std::to_string(minutes) + " minutes"
           : minutes < 2880 ? std::to_string(minutes / 60) + " hours"
                            : std::to_string(minutes / 1440) + " days";
}

// The rule lines one rule text has and the other has not, as a few words.
std::string rule_changes(std::string_view before, std::string_view after)
{
    const auto rules = [](std::string_view text) {
        std::vector<std::string_view> lines;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = std::min(text.find('\n', at), text.size());
            const std::string_view line = trim(text.substr(at, end - at));
            if (!line.empty() && line.front() != '#')
                lines.push_back(line);
            at = end + 1;
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    const std::vector<std::string_view> old_rules = rules(before), new_rules = rules(after);
    std::vector<std::string_view> added, removed;
    std::set_difference(new_rules.begin(), new_rules.end(), old_rules.begin(), old_rules.end(),
                        std::back_inserter(added));
    std::set_difference(old_rules.begin(), old_rules.end(), new_rules.begin(), new_rules.end(),
                        std::back_inserter(removed));
    if (added.empty() && removed.empty())
        return "the rules did not change";
    std::string text =
        std::to_string(added.size()) + " rule lines added, " + std::to_string(removed.size()) + " removed";
    for (const auto& [sign, lines] : {std::pair("+", &added), std::pair("-", &removed)})
        for (std::size_t i = 0; i < lines->size() && i < 3; ++i)
            text += std::string(", ") + sign + quoted_text((*lines)[i], 120);
    return text;
}

// whitelist_url: the list's URL, its cache, and the last refresh.
void check_central_list(run_context& run, std::vector<status_line>& lines)
{
    const char topic[] = "whitelist_url";
    const std::optional<std::string> value = get_whitelist_url(run);
    if (!value) {
        lines.push_back({true, topic,
                         "off: no central list is fetched (opt in with whitelist_url=https://... in ostrilo.cfg or "
                         "by policy)",
                         ""});
        return;
    }
    const central_url_reading reading = read_central_url(*value);
    if (!reading.url) {
        lines.push_back({false, topic,
                         quoted_text(*value) + " is refused (" + reading.refusal + "): links go without it",
                         "correct whitelist_url in " + where_set(run, "whitelist_url")});
        return;
    }
    const std::string& url = reading.url->url;
    std::string rules;
    const central_cache cache = read_central_cache(*reading.url, true, &rules);
    const long long refresh_seconds = static_cast<long long>(get_whitelist_refresh_minutes(run)) * 60;
    const bool current = !cache.unusable && cache.age_seconds < refresh_seconds;
    nlohmann::ordered_json more = {
        {"url", url},
        {"cache", cache.path},
        {"format", cache.format},
        {"time", cache.time},
        {"age_seconds", cache.unusable ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(cache.age_seconds)},
        {"rules", count_rule_lines(rules)},
        {"current", current}};
    if (cache.unusable) {
        const unsigned long timeout = get_whitelist_timeout_ms(run);
        lines.push_back({false, topic,
                         url + ": no usable cache at " + cache.path + " (" + *cache.unusable +
                             "): the next link waits up to " + std::to_string(timeout ? timeout : 5000) +
                             " ms for the list, else goes without it",
                         "run ostrilo-admin status --refresh; the line below says why the last fetch failed", more});
    } else {
        lines.push_back({true, topic,
                         url + " (" + cache.format + "): " + std::to_string(count_rule_lines(rules)) + " rules in " +
                             cache.path + ", fetched " + cache.time + ", found current " + age_text(cache.age_seconds) +
                             " ago; " +
                             (current ? "current" : "not current: the next link refreshes it after its hand-off"),
                         "", more});
    }
    if (const auto last = last_central_attempt(url))
        lines.push_back(
            {last->first.ok,
             "whitelist_url refresh",
             "the last one, " + age_text(last->second) + " ago: " + last->first.result,
             last->first.ok ? "" : "check that this desktop reaches " + url + " (proxy, certificate, server)",
             {{"result", last->first.result}, {"ok", last->first.ok}, {"age_seconds", last->second}}});
    else
        lines.push_back({true, "whitelist_url refresh", "none recorded for this URL yet", ""});
}

// Every key in force, with its value and where it comes from; a policy value
// that is ignored is something to fix.
void check_keys(run_context& run, std::vector<status_line>& lines)
{
    policy_value(run, config_keys().front());  // the policy values are read, if no check has yet
    for (const auto& [name, problem] : run.keys.policy_problems) {
        const config_key& key = *find_config_key(name);
        const std::string type = key.kind == key_kind::text   ? "REG_SZ"
                                 : key.kind == key_kind::path ? "REG_SZ or REG_EXPAND_SZ"
                                                              : "REG_DWORD " + key_range_text(key);
        lines.push_back({false, "policy " + name, problem + ": ignored",
                         "set it with the template ostrilo.admx, or as " + type + ", or remove it"});
    }
    for (const config_key& key : config_keys()) {
        const key_value value = key_in_force(run, key);
        const bool unset_text =
            value.source == key_source::fallback && (key.kind == key_kind::text || key.kind == key_kind::path);
        const std::string shown = unset_text ? key.fallback_text : key_value_text(key, value.text, value.number);
        const char* const sources[] = {"machine policy", "user policy", "ostrilo.cfg", "MSI property", "default"};
        nlohmann::ordered_json more = {
            {"key", key.name},
            {"value", unset_text ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(shown)},
            {"source", sources[static_cast<int>(value.source)]}};
        if (value.source == key_source::file)
            more.update({{"file", value.file}, {"line", value.line}});
        lines.push_back({true, std::string("key ") + key.name, shown + " (" + key_source_text(value) + ")", "", more});
    }
}

// Microsoft Defender's attack surface reduction rule "Block Office
// communication application from creating child processes", set to block (1)
// or warn (6), keeps Outlook from starting Ostrilo: links in mail do nothing.
// Defender reads the rule from the values of Group Policy (ASR\Rules: one
// REG_SZ per rule GUID; ASR\ASROnlyExclusions: one value per excluded path,
// its name) and of MDM such as Intune (Policy Manager: ASRRules as
// "GUID=state|GUID=state", ASROnlyExclusions as "path|path"), as Microsoft
// documents them for the Group Policy of Defender, the Defender policy CSP
// and the troubleshooting of Defender's settings.
const char asr_rule[] = "26190899-1602-49e8-8b27-eb1d0a1ce869";
const wchar_t asr_group_policy[] =
    L"SOFTWARE\\Policies\\Microsoft\\Windows Defender\\Windows Defender Exploit Guard\\ASR";
const wchar_t asr_mdm[] = L"SOFTWARE\\Policies\\Microsoft\\Windows Defender\\Policy Manager";

// ostrilo-admin is a 64-bit program: it reads the 64-bit view, which Defender reads.
std::optional<std::wstring> machine_string(const std::wstring& key, const wchar_t* name)
{
    wchar_t buffer[32768] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buffer);
}

std::vector<std::wstring> split_at_bars(const std::wstring& text)
{
    std::vector<std::wstring> parts;
    for (std::size_t begin = 0, end; begin <= text.size(); begin = end + 1) {
        end = std::min(text.find(L'|', begin), text.size());
        parts.push_back(text.substr(begin, end - begin));
    }
    return parts;
}

// The rule's state and who set it; none when neither source sets it.
std::optional<std::pair<std::wstring, const char*>> asr_rule_state(std::vector<std::wstring>& exclusions)
{
    const std::wstring guid(asr_rule, asr_rule + sizeof(asr_rule) - 1);
    std::optional<std::pair<std::wstring, const char*>> state;
    if (std::optional<std::wstring> value = machine_string(std::wstring(asr_group_policy) + L"\\Rules", guid.c_str()))
        state = std::pair(*value, "Group Policy");
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(asr_group_policy) + L"\\ASROnlyExclusions").c_str(), 0,
                      KEY_READ | KEY_WOW64_64KEY, key.put()) == ERROR_SUCCESS) {
        wchar_t name[32768];
        for (DWORD index = 0, length = 32768;
             RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++index, length = 32768)
            exclusions.emplace_back(name, length);
    }
    if (std::optional<std::wstring> rules = machine_string(asr_mdm, L"ASRRules"))
        for (const std::wstring& rule : split_at_bars(*rules))
            if (const std::size_t equals = rule.find(L'=');
                !state && equals != std::wstring::npos &&
                CompareStringOrdinal(rule.c_str(), static_cast<int>(equals), guid.c_str(), -1, TRUE) == CSTR_EQUAL)
                state = std::pair(rule.substr(equals + 1), "MDM (Intune)");
    if (std::optional<std::wstring> list = machine_string(asr_mdm, L"ASROnlyExclusions"))
        for (const std::wstring& path : split_at_bars(*list))
            exclusions.push_back(path);
    return state;
}

// An exclusion takes the program itself, a folder above it, or a pattern
// with wildcards that matches it; environment variables are expanded.
bool excluded(const std::wstring& program, const std::wstring& exclusion)
{
    wchar_t expanded[32768] = {};
    if (exclusion.empty() || ExpandEnvironmentStringsW(exclusion.c_str(), expanded, 32768) == 0)
        return false;
    std::wstring path = expanded;
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    const auto same = [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
    };
    return same(program, path) ||
           (program.size() > path.size() && program[path.size()] == L'\\' &&
            same(program.substr(0, path.size()), path)) ||
           (path.find_first_of(L"*?") != std::wstring::npos && PathMatchSpecW(program.c_str(), path.c_str()));
}

void check_defender_asr(std::vector<status_line>& lines)
{
    const char topic[] = "Defender ASR";
    const std::string rule = std::string(
                                 "the rule \"Block Office communication application from creating child "
                                 "processes\" (") +
                             asr_rule + ")";
    std::vector<std::wstring> exclusions;
    const auto state = asr_rule_state(exclusions);
    const std::wstring mode = state ? state->first : L"";
    if (mode != L"1" && mode != L"6") {
        lines.push_back({true, topic, rule + " is not set to block or warn: Outlook can start Ostrilo", ""});
        return;
    }
    // The program Outlook starts for a link is the one registered for http.
    std::string program = command_program(read_reg_string("Software\\Classes\\NB.HTTP\\shell\\open\\command", nullptr));
    if (program.empty())
        program = program_folder() + (ends_with(program_folder(), "\\") ? "" : "\\") + "Ostrilo.exe";
    const std::wstring wide = utf8_to_wide(program).value_or(L"");
    const std::string how = std::string(mode == L"1" ? "block" : "warn") + " by " + state->second;
    for (const std::wstring& exclusion : exclusions)
        if (excluded(wide, exclusion)) {
            lines.push_back(
                {true, topic, rule + " is set to " + how + ", and " + program + " is excluded from it", ""});
            return;
        }
    lines.push_back({false, topic,
                     rule + " is set to " + how + " and " + program +
                         " is not excluded: Outlook cannot start Ostrilo, links in mail do nothing",
                     "add " + program +
                         " to the exclusions of the attack surface reduction rules (Group Policy: "
                         "\"Exclude files and paths from Attack Surface Reduction Rules\", Intune: "
                         "\"Attack Surface Reduction Only Exclusions\"), or set the rule to audit"});
}

// event_log: what goes to the Application log, and whether Event Viewer finds
// the messages there (the MSI registers the source; a copy from the zip needs
// it registered by hand).
void check_event_log(run_context& run, std::vector<status_line>& lines)
{
    const int key = get_event_log(run);
    if (key == 0) {
        lines.push_back({true, "event_log",
                         "off: nothing goes to the Windows event log (opt in with event_log=1 or 2 in ostrilo.cfg)",
                         ""});
        return;
    }
    const std::string what = key == 1 ? "1: the events an administrator acts on go to the Application log"
                                      : "2: the events an administrator acts on and one per routed link go to the "
                                        "Application log";
    wchar_t file[2 * MAX_PATH] = L"";
    DWORD size = sizeof file;
    const bool registered =
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Ostrilo",
                     L"EventMessageFile", RRF_RT_REG_SZ, nullptr, file, &size) == ERROR_SUCCESS;
    const std::string path = wide_to_utf8(file).value_or("");
    if (registered && file_exists(path))
        lines.push_back({true, "event_log", what + "; Event Viewer takes their messages from " + path, ""});
    else
        lines.push_back({false, "event_log",
                         what +
                             (registered ? "; the source's message file " + path + " does not exist"
                                         : "; the source Ostrilo is not registered") +
                             ": Event Viewer shows the events without their messages",
                         "install the MSI, or register the source as docs/event-log.md shows"});
}

void check_viewer(run_context& run, std::vector<status_line>& lines)
{
    const std::optional<std::string> viewer = find_vncviewer(run);
    if (!viewer) {
        lines.push_back({false, "viewer", "vncviewer.exe not found", "install the viewer"});
    } else if (is_vncviewer_version_equal_to_or_greater_than_2_1_4(run)) {
        lines.push_back({true, "viewer", *viewer + " (version 2.1.4 or later)", ""});
    } else {
        lines.push_back({false, "viewer", *viewer + " is older than 2.1.4 or has no version: it is never started",
                         "install viewer 2.1.4 or later"});
    }
    // The pipe-name file lies in kvixtemp of the temporary folder; it is only
    // looked at, the folder is not created.
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    const std::string pipe_file = std::string(temp, length) + "kvixtemp\\feldrun_pipename";
    if (length > 0 && file_exists(pipe_file))
        lines.push_back({true, "pipe name file", pipe_file, ""});
    else
        lines.push_back({true, "pipe name file", "none: the standard pipe \\\\.\\pipe\\feldrun-pipe is used", ""});
    const unsigned long process = find_process_by_name(run, "vncviewer.exe", get_os_user_name(run));
    if (process != 0)
        lines.push_back({true, "viewer running", format_unbounded("process %lu of this user", process), ""});
    else
        lines.push_back({true, "viewer running", "no: Ostrilo starts it for a remote link", ""});
}

}  // namespace

int print_status(run_context& run, bool json, bool refresh)
{
    std::vector<status_line> lines;
    if (refresh) {
        const central_refresh_report report = refresh_central_list_now(run);
        const std::optional<std::string> value = get_whitelist_url(run);
        if (!value)
            lines.push_back({false, "whitelist_url refreshed", "nothing to refresh: whitelist_url is not set", ""});
        else if (!report.ran && report.result.empty())
            lines.push_back({false, "whitelist_url refreshed", "nothing refreshed: whitelist_url is refused", ""});
        else
            lines.push_back({report.ok, "whitelist_url refreshed",
                             report.result + (report.ok ? "; " + rule_changes(report.old_rules, report.new_rules) : ""),
                             report.ok || !report.ran ? "" : "see the line whitelist_url refresh below"});
    }
    check_registration(lines);
    check_defaults(run, lines);
    check_defender_asr(lines);
    check_files(run, lines);
    check_hardening(run, lines);
    check_copy(run, lines);
    check_timeout(run, lines);
    check_central_list(run, lines);
    check_event_log(run, lines);
    check_viewer(run, lines);
    check_keys(run, lines);
    bool all_ok = true;
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const status_line& line : lines) {
        all_ok = all_ok && line.ok;
        if (!json) {
            std::cout << (line.ok ? "ok    " : "FIX   ") << line.topic << ": " << line.text
                      << (line.fix.empty() ? "" : " -- " + line.fix) << "\n";
            continue;
        }
        nlohmann::ordered_json entry = {{"ok", line.ok}, {"topic", line.topic}, {"text", line.text}, {"fix", line.fix}};
        if (!line.more.is_null())
            entry.update(line.more);
        all.push_back(entry);
    }
    if (json)
        std::cout << all.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return all_ok ? 0 : 1;
}
