// Registry helpers for the end-to-end tests: reading key trees back, and
// putting them back as they were when a test ends, so that tests do not
// depend on their order.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

struct registry_value {
    DWORD type = 0;
    std::vector<BYTE> data;
    bool operator==(const registry_value&) const = default;
};

// A key with everything below it; value names and subkey names as stored.
struct registry_tree {
    std::map<std::wstring, registry_value> values;
    std::map<std::wstring, registry_tree> subkeys;
    bool operator==(const registry_tree&) const = default;
};

struct registry_key_closer {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using registry_key = std::unique_ptr<std::remove_pointer_t<HKEY>, registry_key_closer>;

// The key opened for reading, or created (with the keys above it) for writing; empty on failure.
inline registry_key open_key(HKEY root, const std::wstring& path, bool create = false)
{
    HKEY key = nullptr;
    LSTATUS status = create ? RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
                            : RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key);
    return registry_key(status == ERROR_SUCCESS ? key : nullptr);
}

// REG_SZ data as the registration writes it: the text and one whole null.
inline registry_value string_value(const std::wstring& text)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

inline void write_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text)
{
    RegSetKeyValueW(root, path.c_str(), name.empty() ? nullptr : name.c_str(), REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline std::optional<registry_tree> read_tree(HKEY root, const std::wstring& path)
{
    registry_key key = open_key(root, path);
    if (!key)
        return std::nullopt;
    registry_tree tree;
    std::vector<wchar_t> name(16384);
    DWORD data_size = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &data_size,
                     nullptr, nullptr);
    std::vector<BYTE> data(data_size);
    for (DWORD index = 0;; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD size = data_size;
        DWORD type = 0;
        if (RegEnumValueW(key.get(), index, name.data(), &name_length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        tree.values[std::wstring(name.data(), name_length)] = {type, std::vector<BYTE>(data.begin(), data.begin() + size)};
    }
    for (DWORD index = 0;; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key.get(), index, name.data(), &name_length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::wstring subkey(name.data(), name_length);
        if (std::optional<registry_tree> child = read_tree(root, path + L"\\" + subkey))
            tree.subkeys[subkey] = *child;
    }
    return tree;
}

inline void write_tree(HKEY root, const std::wstring& path, const registry_tree& tree)
{
    registry_key key = open_key(root, path, true);
    for (const auto& [name, value] : tree.values)
        RegSetValueExW(key.get(), name.empty() ? nullptr : name.c_str(), 0, value.type, value.data.data(),
                       static_cast<DWORD>(value.data.size()));
    for (const auto& [name, child] : tree.subkeys)
        write_tree(root, path + L"\\" + name, child);
}

// Remembers key trees when made and puts them back (or removes them, when
// they did not exist) when it goes.
class registry_guard {
public:
    registry_guard(const std::vector<std::pair<HKEY, std::wstring>>& keys)
    {
        for (const auto& [root, path] : keys)
            saved_.push_back({root, path, read_tree(root, path)});
    }
    ~registry_guard()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            SHDeleteKeyW(it->root, it->path.c_str());
            if (it->tree)
                write_tree(it->root, it->path, *it->tree);
        }
    }
    registry_guard(const registry_guard&) = delete;
    registry_guard& operator=(const registry_guard&) = delete;

private:
    struct saved_key {
        HKEY root;
        std::wstring path;
        std::optional<registry_tree> tree;
    };
    std::vector<saved_key> saved_;
};

// Every key that a registration or a removal may write or delete, with the
// parents that a registration creates where they are missing.
struct registration_keys_guard : registry_guard {
    registration_keys_guard()
        : registry_guard({{HKEY_CURRENT_USER, L"Software\\Classes"},
                          {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths"},
                          {HKEY_CURRENT_USER, L"Software\\Clients"},
                          {HKEY_CURRENT_USER, L"Software\\RegisteredApplications"},
                          {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\Shell\\Associations"},
                          {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts"},
                          {HKEY_LOCAL_MACHINE, L"Software\\Classes\\http\\shell\\open\\ddeexec"},
                          {HKEY_LOCAL_MACHINE, L"Software\\Classes\\https\\shell\\open\\ddeexec"}})
    {
    }
};

// The Windows version that Wine reports to Ostrilo.exe (and to nothing else)
// while the object lives.
struct scoped_windows_version : registry_guard {
    explicit scoped_windows_version(const wchar_t* version) : registry_guard({{HKEY_CURRENT_USER, key}})
    {
        write_string(HKEY_CURRENT_USER, key, L"Version", version);
    }
    static constexpr const wchar_t* key = L"Software\\Wine\\AppDefaults\\Ostrilo.exe";
};
