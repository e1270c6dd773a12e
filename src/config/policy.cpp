// The policy values of Group Policy and Intune: one value per key of the key
// table under the policy key of the machine and of the user, read once per
// run, at the first request of any key. And the value an MSI property gave a
// key for the whole machine.
#include <windows.h>

#include <iterator>
#include <vector>

#include "config_keys.h"
#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "run_context.h"
#include "unique_resource.h"

namespace {

struct policy_hive {
    HKEY root;
    const char* name;  // as records name it
    key_source source;
};

// Machine first: its value wins over the user's.
const policy_hive hives[] = {
    {HKEY_LOCAL_MACHINE, "HKLM", key_source::machine_policy},
    {HKEY_CURRENT_USER, "HKCU", key_source::user_policy},
};

struct type_name {
    DWORD type;
    const char* name;
};

const type_name type_names[] = {
    {REG_SZ, "REG_SZ"},       {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_BINARY, "REG_BINARY"},
    {REG_DWORD, "REG_DWORD"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},   {REG_QWORD, "REG_QWORD"},
};

std::string name_of_type(DWORD type)
{
    for (const type_name& t : type_names)
        if (t.type == type)
            return t.name;
    return "of type " + std::to_string(type);
}

struct raw_value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// The value at `index` of the key, or none past the last one.
std::optional<raw_value> enum_value(HKEY key, DWORD index)
{
    raw_value value;
    value.name.resize(16384);  // the longest value name the registry allows, and its NUL
    value.data.resize(512);
    for (;;) {
        DWORD name_length = static_cast<DWORD>(value.name.size());
        DWORD size = static_cast<DWORD>(value.data.size());
        const LSTATUS status =
            RegEnumValueW(key, index, value.name.data(), &name_length, nullptr, &value.type, value.data.data(), &size);
        if (status == ERROR_MORE_DATA && size > value.data.size()) {
            value.data.resize(size);
            continue;
        }
        if (status != ERROR_SUCCESS)
            return std::nullopt;
        value.name.resize(name_length);
        value.data.resize(size);
        return value;
    }
}

// A string value up to its first NUL; the stored terminator may be missing.
std::wstring wide_text(const raw_value& value)
{
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    std::copy(value.data.begin(), value.data.begin() + text.size() * sizeof(wchar_t),
              reinterpret_cast<BYTE*>(text.data()));
    return text.substr(0, text.find(L'\0'));
}

std::wstring expanded(const std::wstring& text)
{
    const DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::wstring result(size, L'\0');
    if (size == 0 || ExpandEnvironmentStringsW(text.c_str(), result.data(), size) == 0)
        return text;
    return result.substr(0, result.find(L'\0'));
}

// The value as the key takes it, or what is wrong with it.
struct checked_value {
    std::optional<key_value> value;
    std::string problem;
};

checked_value check_value(const config_key& key, const raw_value& raw, key_source source)
{
    key_value value;
    value.source = source;
    const std::string type = name_of_type(raw.type);
    if (key.kind != key_kind::text && key.kind != key_kind::path) {
        if (raw.type != REG_DWORD)
            return {std::nullopt, "is " + type + ", not REG_DWORD"};
        if (raw.data.size() != sizeof(DWORD))
            return {std::nullopt, "is a REG_DWORD of " + std::to_string(raw.data.size()) + " bytes"};
        DWORD number = 0;
        std::copy(raw.data.begin(), raw.data.end(), reinterpret_cast<BYTE*>(&number));
        if (!number_fits(key, number))
            return {std::nullopt, "is " + std::to_string(number) + ", not " + key_range_text(key)};
        value.number = number;
        return {value, ""};
    }
    const bool expandable = key.kind == key_kind::path && raw.type == REG_EXPAND_SZ;
    if (raw.type != REG_SZ && !expandable)
        return {std::nullopt,
                "is " + type + ", not " + (key.kind == key_kind::path ? "REG_SZ or REG_EXPAND_SZ" : "REG_SZ")};
    const std::wstring wide = expandable ? expanded(wide_text(raw)) : wide_text(raw);
    const std::optional<std::string> text = wide_to_utf8(wide);
    if (wide.empty() || !text)
        return {std::nullopt, wide.empty() ? "is empty" : "is not valid text"};
    value.text = *text;
    return {value, ""};
}

void read_policies(run_context& run)
{
    key_values& keys = run.keys;
    keys.policies_read = true;
    keys.policy.assign(config_keys().size(), std::nullopt);
    const std::wstring policy_key(std::begin(policy_registry_key), std::end(policy_registry_key) - 1);
    for (const policy_hive& hive : hives) {
        // One open per hive; a run without policy values pays just this.
        unique_hkey key;
        if (RegOpenKeyExW(hive.root, policy_key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
            continue;
        // The values that are there, each read once; names the program does
        // not read (a later version's keys) are passed over.
        for (DWORD index = 0; const std::optional<raw_value> raw = enum_value(key.get(), index); ++index) {
            const config_key* row = find_config_key(wide_to_utf8(raw->name).value_or(""));
            if (!row)
                continue;
            checked_value checked = check_value(*row, *raw, hive.source);
            if (!checked.value) {
                const std::string where =
                    std::string(hive.name) + "\\" + policy_registry_key + "\\" + row->name + " " + checked.problem;
                keys.policy_records.emplace_back(LOG_WARN, "policy: " + where + "; ignored");
                keys.policy_problems.emplace_back(row->name, where);
                continue;
            }
            std::optional<key_value>& slot = keys.policy[key_index(*row)];
            if (!slot)
                slot = std::move(checked.value);
        }
    }
    for (const config_key& row : config_keys()) {
        if (const std::optional<key_value>& value = keys.policy[key_index(row)])
            keys.policy_records.emplace_back(LOG_DEBUG, "policy: " + std::string(row.name) + "=" +
                                                            key_value_text(row, value->text, value->number) + " from " +
                                                            key_source_text(*value));
    }
}

}  // namespace

const std::optional<key_value>& policy_value_unrecorded(run_context& run, const config_key& key)
{
    if (!run.keys.policies_read)
        read_policies(run);
    return run.keys.policy[key_index(key)];
}

const std::optional<key_value>& policy_value(run_context& run, const config_key& key)
{
    const std::optional<key_value>& value = policy_value_unrecorded(run, key);
    if (!run.keys.policies_recorded) {
        run.keys.policies_recorded = true;
        for (const auto& [level, text] : run.keys.policy_records)
            LOG_ENVIRONMENT(level, "%s", text.c_str());
    }
    return value;
}

std::optional<key_value> installation_value(const config_key& key)
{
    if (!key.msi_property)
        return std::nullopt;
    const std::wstring folder(std::begin(installation_registry_key), std::end(installation_registry_key) - 1);
    unique_hkey installation;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, folder.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, installation.put()) !=
        ERROR_SUCCESS)
        return std::nullopt;
    raw_value raw;
    DWORD size = 0;
    const std::wstring name = utf8_to_wide(key.name).value_or(L"");
    if (RegQueryValueExW(installation.get(), name.c_str(), nullptr, &raw.type, nullptr, &size) != ERROR_SUCCESS ||
        raw.type != REG_SZ)
        return std::nullopt;
    raw.data.resize(size);
    if (RegQueryValueExW(installation.get(), name.c_str(), nullptr, nullptr, raw.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    raw.data.resize(size);
    // An empty value is a property that was not given.
    const std::optional<std::string> text = wide_to_utf8(wide_text(raw));
    if (!text || text->empty())
        return std::nullopt;
    key_value value{*text, 0, key_source::installation,
                    std::string("HKLM\\") + installation_registry_key + "\\" + key.name, 0};
    if (key.kind != key_kind::text && key.kind != key_kind::path) {
        // Taken as ostrilo.cfg takes it; a value the key does not take is none.
        value.number = file_number(key, *text);
        if (std::to_string(value.number) != *text)
            return std::nullopt;
        value.text.clear();
    }
    return value;
}
