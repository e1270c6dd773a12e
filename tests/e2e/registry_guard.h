// Registry helpers for the end-to-end tests: reading values back, copying a
// key tree, and putting key trees back as they were when a test ends, so
// that tests do not depend on their order.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include <map>
#include <optional>
#include <string>
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

class registry_key_handle {
public:
    registry_key_handle() = default;
    ~registry_key_handle()
    {
        if (key_)
            RegCloseKey(key_);
    }
    registry_key_handle(const registry_key_handle&) = delete;
    registry_key_handle& operator=(const registry_key_handle&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};

inline bool key_exists(HKEY root, const std::wstring& path)
{
    registry_key_handle key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

// The value, or none when the key or the value is missing. An empty name is
// the key's unnamed value.
inline std::optional<registry_value> read_value(HKEY root, const std::wstring& path, const std::wstring& name)
{
    registry_key_handle key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    const wchar_t* value_name = name.empty() ? nullptr : name.c_str();
    if (RegQueryValueExW(key.get(), value_name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    registry_value value;
    value.type = type;
    value.data.resize(size);
    if (RegQueryValueExW(key.get(), value_name, nullptr, &type, value.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    return value;
}

// REG_SZ data as the registration writes it: the text and one whole null.
inline registry_value string_value(const std::wstring& text)
{
    registry_value value;
    value.type = REG_SZ;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

inline void write_string(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text)
{
    registry_key_handle key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr) != ERROR_SUCCESS)
        return;
    registry_value value = string_value(text);
    RegSetValueExW(key.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
}

inline void create_key(HKEY root, const std::wstring& path)
{
    registry_key_handle key;
    RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
}

inline void delete_tree(HKEY root, const std::wstring& path)
{
    SHDeleteKeyW(root, path.c_str());
}

inline std::optional<registry_tree> read_tree(HKEY root, const std::wstring& path)
{
    registry_key_handle key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS)
        return std::nullopt;
    registry_tree tree;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD name_length = 16384;
        DWORD type = 0;
        DWORD size = 0;
        if (RegEnumValueW(key.get(), index, name, &name_length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        registry_value value;
        value.type = type;
        value.data.resize(size);
        name_length = 16384;
        RegEnumValueW(key.get(), index, name, &name_length, nullptr, &type, value.data.data(), &size);
        value.data.resize(size);
        tree.values[std::wstring(name, name_length)] = value;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD name_length = 256;
        if (RegEnumKeyExW(key.get(), index, name, &name_length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::wstring subkey(name, name_length);
        if (std::optional<registry_tree> child = read_tree(root, path + L"\\" + subkey))
            tree.subkeys[subkey] = *child;
    }
    return tree;
}

inline void write_tree(HKEY root, const std::wstring& path, const registry_tree& tree)
{
    registry_key_handle key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr) != ERROR_SUCCESS)
        return;
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
    registry_guard(std::initializer_list<std::pair<HKEY, std::wstring>> keys)
    {
        for (const auto& [root, path] : keys)
            saved_.push_back({root, path, read_tree(root, path)});
    }
    ~registry_guard()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            delete_tree(it->root, it->path);
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
class registration_keys_guard {
public:
    registration_keys_guard()
        : guard_({{HKEY_CURRENT_USER, L"Software\\Classes"},
                  {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths"},
                  {HKEY_CURRENT_USER, L"Software\\Clients"},
                  {HKEY_CURRENT_USER, L"Software\\RegisteredApplications"},
                  {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\Shell\\Associations"},
                  {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts"},
                  {HKEY_LOCAL_MACHINE, L"Software\\Classes\\http\\shell\\open\\ddeexec"},
                  {HKEY_LOCAL_MACHINE, L"Software\\Classes\\https\\shell\\open\\ddeexec"}})
    {
    }

private:
    registry_guard guard_;
};

// Sets one string value for the lifetime of the object and then puts back
// what was there (or removes it).
class scoped_registry_string {
public:
    scoped_registry_string(HKEY root, std::wstring path, std::wstring name, const std::wstring& text)
        : root_(root), path_(std::move(path)), name_(std::move(name)), saved_(read_value(root_, path_, name_))
    {
        write_string(root_, path_, name_, text);
    }
    ~scoped_registry_string()
    {
        registry_key_handle key;
        if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_SET_VALUE, key.out()) != ERROR_SUCCESS)
            return;
        const wchar_t* name = name_.empty() ? nullptr : name_.c_str();
        if (saved_)
            RegSetValueExW(key.get(), name, 0, saved_->type, saved_->data.data(), static_cast<DWORD>(saved_->data.size()));
        else
            RegDeleteValueW(key.get(), name);
    }
    scoped_registry_string(const scoped_registry_string&) = delete;
    scoped_registry_string& operator=(const scoped_registry_string&) = delete;

private:
    HKEY root_;
    std::wstring path_;
    std::wstring name_;
    std::optional<registry_value> saved_;
};

// The Windows version that Wine reports to programs started from now on.
class scoped_windows_version : public scoped_registry_string {
public:
    explicit scoped_windows_version(const wchar_t* version)
        : scoped_registry_string(HKEY_CURRENT_USER, L"Software\\Wine", L"Version", version)
    {
    }
};
