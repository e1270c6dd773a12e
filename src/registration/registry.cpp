// Registry primitives: every operation logs what it does and reports nothing
// to its caller, which always goes on with its next step.
#include "registration.h"

#include "registry_value.h"

#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "run_context.h"
#include "unique_resource.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>

namespace {

// The log shows which value a row writes: "(default)" for the key's unnamed
// value, "(null)" where no data is written.
const wchar_t* name_for_log(const wchar_t* name)
{
    return name != nullptr ? name : L"(default)";
}

const wchar_t* data_for_log(const wchar_t* data)
{
    return data != nullptr ? data : L"(null)";
}

}  // namespace

void create_reg_key(const wchar_t* path, const wchar_t* name, const wchar_t* data)
{
    LOG_OSTRILO(LOG_TRACE, "create_reg_key(%ls, %ls, %ls)", path, name_for_log(name), data_for_log(data));
    // The key is only written to: it is opened for setting values alone.
    unique_hkey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS) {
        LOG_OSTRILO(LOG_ERROR, "Error creating key: %ls", path);
        return;
    }
    LOG_OSTRILO(LOG_TRACE, "Key created: %ls", path);
    if (data != nullptr) {
        LOG_OSTRILO(LOG_TRACE, "Set value: %ls", data);
        // The stored data ends with one whole null character.
        DWORD size = static_cast<DWORD>((std::wcslen(data) + 1) * sizeof(wchar_t));
        if (RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), size) != ERROR_SUCCESS)
            LOG_OSTRILO(LOG_ERROR, "Error setting key value: %ls, val %ls", path, data);
    }
    LOG_OSTRILO(LOG_TRACE, "create_reg_key finished");
}

void delete_key_and_subkeys_from_hkey_current_user(const wchar_t* path)
{
    LOG_OSTRILO(LOG_TRACE, "delete_key_and_subkeys_from_hkey_current_user(%ls)", path);
    if (SHDeleteKeyW(HKEY_CURRENT_USER, path) != ERROR_SUCCESS)
        LOG_OSTRILO(LOG_ERROR, "An error ocurred while deleting key tree from HKEY_CURRENT_USER registry (%ls)", path);
    LOG_OSTRILO(LOG_TRACE, "delete_key_and_subkeys_from_hkey_current_user finished");
}

void delete_key_and_subkeys_from_hkey_local_machine(const wchar_t* path)
{
    LOG_OSTRILO(LOG_TRACE, "delete_key_and_subkeys_from_hkey_local_machine(%ls)", path);
    if (SHDeleteKeyW(HKEY_LOCAL_MACHINE, path) != ERROR_SUCCESS)
        LOG_OSTRILO(LOG_ERROR, "An error ocurred while deleting key tree from HKEY_LOCAL_MACHINE registry (%ls)", path);
    LOG_OSTRILO(LOG_TRACE, "delete_key_and_subkeys_from_hkey_local_machine finished");
}

void delete_key_from_hkey_current_user(const wchar_t* path)
{
    // The opening record is the one of the tree deletion, so that both read
    // alike in the log.
    LOG_OSTRILO(LOG_TRACE, "delete_key_and_subkeys_from_hkey_current_user(%ls)", path);
    if (RegDeleteKeyW(HKEY_CURRENT_USER, path) == ERROR_SUCCESS)
        LOG_OSTRILO(LOG_TRACE, "RegDeleteKeyW(%ls) succeeeded", path);
    else
        LOG_OSTRILO(LOG_WARN, "RegDeleteKeyW(%ls) failed", path);
}

void delete_value_from_hkey_current_user(const wchar_t* path, const wchar_t* name)
{
    LOG_OSTRILO(LOG_TRACE, "delete_value_from_hkey_current_user(%ls, %ls)", path, name_for_log(name));
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS ||
        RegDeleteValueW(key.get(), name) != ERROR_SUCCESS)
        LOG_OSTRILO(LOG_WARN, "RegDeleteValueW(%ls, %ls) failed", path, name_for_log(name));
}

std::wstring get_open_command(run_context& run, const std::wstring& program_path)
{
    const std::optional<std::string>& configdir = run.configdir;
    std::wstring command = format_wide_bounded(program_path.size() + 17, L"\"%ls\" -url \"%%1\"", program_path.c_str());
    // strict_command_line=1 reads switches only in front of the link, so the
    // link comes last: everything up to the final quote is then the link.
    if (configdir && get_strict_command_line(run) == 1)
        command =
            format_wide_bounded(program_path.size() + configdir->size() + 45,
                                L"\"%ls\" -configdir \"%hs\" -url \"%%1\"", program_path.c_str(), configdir->c_str());
    else if (configdir)
        command = format_wide_bounded(program_path.size() + configdir->size() + 45, L"%ls -configdir \"%hs\"",
                                      command.c_str(), configdir->c_str());
    LOG_OSTRILO(LOG_DEBUG, "sw_call: <%ls>", command.c_str());
    return command;
}

std::string read_reg_string(const char* path, const char* name)
{
    // A missing value, one longer than the buffer, or any other failed read
    // gives the empty string: the callers only look for a text in it.
    char buffer[256] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueA(HKEY_CURRENT_USER, path, name, RRF_RT_ANY, nullptr, buffer, &size) != ERROR_SUCCESS)
        return {};
    buffer[sizeof(buffer) - 1] = '\0';
    return buffer;
}
