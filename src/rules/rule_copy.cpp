// whitelist_copy=1: the last good copy of the whitelist_path file, kept for
// the user in %LOCALAPPDATA%\Ostrilo, and read in the file's place when the
// file cannot be read (a share out of reach, a file locked by a copy job).
#include "url_rules.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdlib>

#include "log.h"
#include "nb_utils.h"
#include "unique_resource.h"

namespace {

constexpr wchar_t copy_folder[] = L"\\Ostrilo";
constexpr wchar_t copy_name[] = L"\\whitelist copy.txt";

// The user's local folder, which does not roam and which Windows does not
// clean like the temporary folder: the variable LOCALAPPDATA (every logon of
// Windows 7 and later sets it; so does Wine), else the shell's answer for a
// process started with a stripped environment.
std::optional<std::wstring> local_app_data()
{
    if (const wchar_t* value = _wgetenv(L"LOCALAPPDATA"); value && *value)
        return std::wstring(value);
    wchar_t folder[MAX_PATH] = L"";
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return std::wstring(folder);
    return std::nullopt;
}

std::string utc_now()
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return format_bounded(32, "%04u-%02u-%02u %02u:%02u:%02u UTC", now.wYear, now.wMonth, now.wDay, now.wHour,
                          now.wMinute, now.wSecond);
}

// Reads an open file to its end.
std::optional<std::string> read_to_end(HANDLE file)
{
    LARGE_INTEGER size{};
    std::string bytes;
    if (GetFileSizeEx(file, &size))
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size())
            bytes.resize(bytes.size() + 65536);
        DWORD read = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - filled, 1u << 30));
        if (!ReadFile(file, bytes.data() + filled, wanted, &read, nullptr))
            return std::nullopt;
        filled += read;
        if (read == 0)
            break;
    }
    bytes.resize(filled);
    return bytes;
}

unique_file_handle open_shared(const std::wstring& path, DWORD share)
{
    return unique_file_handle(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// Writes the copy so that it is never torn: the whole new copy goes into a
// file of its own beside the old one (named after the process, so that runs
// at the same time never share one), is flushed to the disk, and then takes
// the old one's place in one step. A run that dies before that step leaves
// the old copy whole. Gives 0 or the system error number.
DWORD replace_copy(const std::wstring& folder, const std::wstring& path, const std::string& text)
{
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return GetLastError();
    const std::wstring fresh = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
    DWORD error = 0;
    {
        const unique_file_handle file(
            CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return GetLastError();
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !FlushFileBuffers(file.get()))
            error = GetLastError();
    }
    // Another run may be replacing the copy or reading it at this moment;
    // both take only a moment, so a few short tries settle it.
    for (int tries = 0; error == 0 && tries < 20; ++tries) {
        if (MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return 0;
        error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            error = 0, Sleep(10);
    }
    DeleteFileW(fresh.c_str());
    return error != 0 ? error : ERROR_SHARING_VIOLATION;
}

// After the whitelist_path file was read whole: the copy is written only when
// its content or its source differs, so that a run whose copy is current
// compares bytes and writes nothing.
void keep_rule_copy(const rule_copy& copy, const std::string& source, const std::string& bytes)
{
    const parsed_rule_copy& old = copy.parsed;
    if (copy.text && !old.damage && old.header.source == source && old.body == bytes)
        return;
    if (copy.text && old.damage)
        LOG_OSTRILO(LOG_ERROR, "whitelist_copy: the copy %s is damaged (%s); it is replaced", copy.path.c_str(),
                    old.damage->c_str());
    // An empty read comes mostly from a share whose file is being rewritten;
    // it never replaces rules.
    if (bytes.empty() && copy.text && !old.damage && has_rule_lines(rule_text_as_read(old.body))) {
        LOG_OSTRILO(LOG_WARN, "whitelist_copy: %s is empty; the copy %s with rules of %s is kept", source.c_str(),
                    copy.path.c_str(), old.header.time.c_str());
        return;
    }
    const std::string hash = sha256_hex(bytes);
    const std::optional<std::wstring> path = utf8_to_wide(copy.path);
    DWORD error = ERROR_PATH_NOT_FOUND;
    if (path && !hash.empty())
        error = replace_copy(path->substr(0, path->rfind(L'\\')), *path,
                             rule_copy_text({source, utc_now(), hash, bytes.size()}, bytes));
    if (error != 0)
        LOG_OSTRILO(LOG_WARN, "whitelist_copy: cannot keep a copy of %s in %s (%s); going on without it",
                    source.c_str(), copy.path.empty() ? "%LOCALAPPDATA%\\Ostrilo" : copy.path.c_str(),
                    system_error_text(error).c_str());
}

}  // namespace

std::string system_error_text(unsigned long error)
{
    unique_local<wchar_t*> text;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                   error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(text.put()), 0,
                   nullptr);
    std::string message = text ? wide_to_utf8(text.get()).value_or("") : "";
    return format_unbounded("system error %lu: %s", error, std::string(trim(message)).c_str());
}

whole_file read_whole_file(const std::string& path)
{
    const std::optional<std::wstring> wide = utf8_to_wide(path);
    if (!wide)
        return {std::nullopt, ERROR_INVALID_NAME};
    // The sharing of the C runtime's fopen, so that a file Ostrilo can read
    // without the key it can read with it.
    const unique_file_handle file = open_shared(*wide, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!file)
        return {std::nullopt, GetLastError()};
    whole_file read{read_to_end(file.get()), 0};
    if (!read.bytes)
        read.error = GetLastError();
    return read;
}

std::string sha256_hex(std::string_view bytes)
{
    // SHA-256 from Windows' own CNG (bcrypt.dll, Windows 7 and later): it
    // finds any damage, not only what a short sum catches, and needs no code
    // of ours. It is taken only when a copy is written or used; a run whose
    // copy is current compares bytes instead.
    unique_bcrypt_algorithm algorithm;
    unique_bcrypt_hash hash;
    unsigned char digest[32];
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                       static_cast<ULONG>(bytes.size()), 0)) ||
        !BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof digest, 0)))
        return "";
    std::string hex;
    for (unsigned char byte : digest)
        hex += format_bounded(3, "%02x", byte);
    return hex;
}

rule_copy read_rule_copy()
{
    rule_copy copy;
    const std::optional<std::wstring> folder = local_app_data();
    if (!folder)
        return copy;
    const std::wstring path = *folder + copy_folder + copy_name;
    copy.path = wide_to_utf8(path).value_or("");
    // Shared for deleting too: another run may put a new copy in place meanwhile.
    if (const unique_file_handle file = open_shared(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        copy.text = read_to_end(file.get());
    if (copy.text)
        copy.parsed = parse_rule_copy(*copy.text);
    return copy;
}

bool verify_rule_copy(rule_copy& copy)
{
    if (copy.text && !copy.parsed.damage && sha256_hex(copy.parsed.body) != copy.parsed.header.sha256)
        copy.parsed.damage = "checksum does not match";
    return copy.text && !copy.parsed.damage;
}

copy_use consult_whitelist_with_copy(rule_decision& decision, std::string_view url, const std::string& preset,
                                     lookup_mode mode)
{
    const bool acting = mode == lookup_mode::acting;
    const whole_file source = read_whole_file(preset);
    rule_copy copy = read_rule_copy();
    if (source.bytes) {
        decision.consulted.push_back({"whitelist_path", preset, true});
        if (acting) {
            LOG_OSTRILO(LOG_DEBUG, "Found predefined whitelist path. Checking if url is in whitelist in this file: %s",
                        preset.c_str());
            keep_rule_copy(copy, preset, *source.bytes);
        }
        consult_rule_bytes(decision, url, preset, *source.bytes, mode);
        return copy_use::answered;
    }
    const bool intact = verify_rule_copy(copy);
    if (intact && copy.parsed.header.source == preset) {
        const std::string error = system_error_text(source.error);
        decision.consulted.push_back({"whitelist_path", preset, false});
        decision.consulted.push_back({"whitelist_copy", copy.path, true});
        decision.from_copy = rule_decision::copy_answer{copy.path, copy.parsed.header.time, error};
        if (acting)
            LOG_OSTRILO(LOG_WARN, "whitelist_copy: cannot read %s (%s); using its copy of %s from %s", preset.c_str(),
                        error.c_str(), copy.parsed.header.time.c_str(), copy.path.c_str());
        consult_rule_bytes(decision, url, copy.path, copy.parsed.body, mode);
        return copy_use::answered;
    }
    if (acting && copy.text && copy.parsed.damage)
        LOG_OSTRILO(LOG_ERROR, "whitelist_copy: the copy %s is damaged (%s); ignored", copy.path.c_str(),
                    copy.parsed.damage->c_str());
    else if (acting && intact)
        LOG_OSTRILO(LOG_WARN, "whitelist_copy: the copy %s is of %s, not of %s; not used", copy.path.c_str(),
                    copy.parsed.header.source.c_str(), preset.c_str());
    return copy_use::as_without_copy;
}
