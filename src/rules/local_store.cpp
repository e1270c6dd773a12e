// The user's local files of the rules: their folder, whole reads, the
// checksum and the write in one step (local_store.h).
#include "local_store.h"

#include <shlobj.h>

#include <algorithm>
#include <new>
#include <vector>

#include "nb_utils.h"
#include "url_rules.h"

#include <bcrypt.h>

namespace {

// A run that died between writing its new file and putting it in place (the
// machine switched off, the process ended) left "<file>.<process id>.new"
// behind. A run that has just put its file in place removes those last
// written more than an hour ago. A run still writing holds its file open
// without sharing, so the removal fails for it anyway; the hour also spares
// the moment between closing the file and putting it in place. Only runs that
// write look, so a run whose files are current pays nothing.
void remove_abandoned_files(const std::wstring& path)
{
    const std::wstring folder = path.substr(0, path.rfind(L'\\') + 1), name = path.substr(folder.size()) + L".";
    WIN32_FIND_DATAW found{};
    const unique_find_handle search(FindFirstFileW((path + L".*.new").c_str(), &found));
    if (!search)
        return;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    do {
        // The pattern also matches files by their short 8.3 names; only the file's own new files go.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            std::wstring_view(found.cFileName).starts_with(name) &&
            file_ticks(now) > file_ticks(found.ftLastWriteTime) + 3600 * second_ticks)
            DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(search.get(), &found));
}

// SHA-256 from Windows' own CNG (bcrypt.dll, Windows 7 and later): it finds
// any damage, not only what a short sum catches, and needs no code of ours.
// The library is loaded only when a hash is taken (a copy written or used),
// so that no other run pays for loading it; under Wine it hashes four times
// as fast as CryptoAPI.
struct cng_functions {
    unique_module library{LoadLibraryW(L"bcrypt.dll")};
    template <class Function>
    Function find(const char* name) const
    {
        return library ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library.get(), name)))
                       : nullptr;
    }
    decltype(&BCryptOpenAlgorithmProvider) open = find<decltype(open)>("BCryptOpenAlgorithmProvider");
    decltype(&BCryptCloseAlgorithmProvider) close = find<decltype(close)>("BCryptCloseAlgorithmProvider");
    decltype(&BCryptCreateHash) create = find<decltype(create)>("BCryptCreateHash");
    decltype(&BCryptHashData) add = find<decltype(add)>("BCryptHashData");
    decltype(&BCryptFinishHash) finish = find<decltype(finish)>("BCryptFinishHash");
    decltype(&BCryptDestroyHash) destroy = find<decltype(destroy)>("BCryptDestroyHash");
    bool ok = open && close && create && add && finish && destroy;
};

const cng_functions& cng()
{
    static const cng_functions functions;
    return functions;
}

void close_algorithm(BCRYPT_ALG_HANDLE algorithm)
{
    cng().close(algorithm, 0);
}
void destroy_hash(BCRYPT_HASH_HANDLE hash)
{
    cng().destroy(hash);
}

}  // namespace

// The user's local folder, which does not roam and which Windows does not
// clean like the temporary folder: the variable LOCALAPPDATA (every logon of
// Windows 7 and later sets it; so does Wine), else the shell's answer for a
// process started with a stripped environment.
std::optional<std::wstring> ostrilo_local_folder()
{
    if (const wchar_t* value = _wgetenv(L"LOCALAPPDATA"); value && *value)
        return std::wstring(value) + L"\\Ostrilo";
    wchar_t folder[MAX_PATH] = L"";
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return std::wstring(folder) + L"\\Ostrilo";
    return std::nullopt;
}

std::uint64_t file_ticks(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::string header_time(const FILETIME& time)
{
    SYSTEMTIME utc{};
    if (file_ticks(time) % second_ticks != 0 || !FileTimeToSystemTime(&time, &utc))
        return "";
    return format_bounded(32, "%04u-%02u-%02u %02u:%02u:%02u UTC", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                          utc.wMinute, utc.wSecond);
}

FILETIME whole_second_now()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t whole = file_ticks(now) / second_ticks * second_ticks;
    return FILETIME{static_cast<DWORD>(whole), static_cast<DWORD>(whole >> 32)};
}

unique_file_handle open_shared(const std::string& path, DWORD share)
{
    const std::optional<std::wstring> wide = utf8_to_wide(path);
    if (!wide) {
        SetLastError(ERROR_INVALID_NAME);
        return unique_file_handle();
    }
    return unique_file_handle(CreateFileW(wide->c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

std::string failure_text(const whole_read& read)
{
    return read.error != 0 ? system_error_text(read.error) : read.torn ? "it changed while it was read" : "";
}

// Only a file on a disk or share has a size and a time to hold the read
// against (a pipe, as in the tests, has not).
void read_whole(HANDLE file, whole_read& read)
{
    read.bytes.clear();
    read.torn = false;
    BY_HANDLE_FILE_INFORMATION before{}, after{};
    const bool sized = GetFileType(file) == FILE_TYPE_DISK;
    if (sized && !GetFileInformationByHandle(file, &before)) {
        read.error = GetLastError();
        return;
    }
    const std::uint64_t size = (static_cast<std::uint64_t>(before.nFileSizeHigh) << 32) | before.nFileSizeLow;
    if (size > read.limit) {
        read.error = ERROR_FILE_TOO_LARGE;
        return;
    }
    std::size_t filled = 0;
    try {
        for (DWORD got = 1; got > 0 && !read.abandoned; filled += got) {
            if (filled > read.limit) {
                read.error = ERROR_FILE_TOO_LARGE;
                break;
            }
            if (filled == read.bytes.size())
                read.bytes.resize(std::max<std::uint64_t>({2 * filled, size + 1, 4096}));
            const DWORD room = static_cast<DWORD>(std::min<std::size_t>(read.bytes.size() - filled, 1u << 30));
            // A pipe whose writer has closed it has ended, as for the C runtime's reads.
            if (!ReadFile(file, read.bytes.data() + filled, room, &got, nullptr) &&
                GetLastError() != ERROR_BROKEN_PIPE) {
                read.error = GetLastError();
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        read.error = ERROR_NOT_ENOUGH_MEMORY;
    }
    read.bytes.resize(filled);
    read.written = before.ftLastWriteTime;
    read.torn = sized && read.error == 0 &&
                (!GetFileInformationByHandle(file, &after) || after.nFileSizeHigh != before.nFileSizeHigh ||
                 after.nFileSizeLow != before.nFileSizeLow ||
                 CompareFileTime(&after.ftLastWriteTime, &before.ftLastWriteTime) != 0 || filled != size);
}

void read_source(whole_read& read)
{
    for (int tries = 0; tries < 2 && (tries == 0 || read.torn) && !read.abandoned; ++tries) {
        const unique_file_handle file = open_shared(read.path, FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (!file) {
            read.error = GetLastError();
            return;
        }
        read_whole(file.get(), read);
    }
}

DWORD put_file_in_place(const std::string& path, const std::string& header, std::string_view bytes,
                        const FILETIME& stamp, int tries)
{
    const std::wstring target = utf8_to_wide(path).value_or(L"");
    if (target.empty())
        return ERROR_PATH_NOT_FOUND;
    const std::wstring folder = target.substr(0, target.rfind(L'\\'));
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return GetLastError();
    // Named after the process, so that runs at the same time never share one.
    const std::wstring fresh = target + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
    unique_file_handle file(
        CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return GetLastError();
    const auto write = [&file](std::string_view data) {
        DWORD written = 0;
        return WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
               (written == data.size() || (SetLastError(ERROR_WRITE_FAULT), false));
    };
    DWORD error = write(header) && write(bytes) ? 0 : GetLastError();
    // Refused, the stamp costs no more than the file written anew by a later run.
    SetFileTime(file.get(), nullptr, nullptr, &stamp);
    if (error == 0 && !FlushFileBuffers(file.get()))
        error = GetLastError();
    file.reset();
    // Another run may be replacing the file, or reading it, at this moment;
    // that takes only a moment, so a few short tries settle it.
    for (int tried = 0; error == 0 && tried < tries; ++tried) {
        if (MoveFileExW(fresh.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            remove_abandoned_files(target);
            return 0;
        }
        error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            error = tried + 1 < tries ? 0 : error, Sleep(10);
    }
    DeleteFileW(fresh.c_str());
    return error;
}

std::string system_error_text(unsigned long error)
{
    unique_local<wchar_t*> text;
    // WinHTTP's errors (12001 to 12192) have their texts in winhttp.dll, not in the system's table.
    const HMODULE winhttp = error >= 12000 && error < 12200 ? GetModuleHandleW(L"winhttp.dll") : nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                       (winhttp ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM),
                   winhttp, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(text.put()),
                   0, nullptr);
    std::string message = text ? wide_to_utf8(text.get()).value_or("") : "";
    return format_unbounded("system error %lu: %s", error, std::string(trim(message)).c_str());
}

std::string sha256_hex(std::string_view bytes)
{
    unique_any<BCRYPT_ALG_HANDLE, &close_algorithm> algorithm;
    unique_any<BCRYPT_HASH_HANDLE, &destroy_hash> hash;
    unsigned char digest[32];
    if (!cng().ok || !BCRYPT_SUCCESS(cng().open(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(cng().create(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(cng().add(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                  static_cast<ULONG>(bytes.size()), 0)) ||
        !BCRYPT_SUCCESS(cng().finish(hash.get(), digest, sizeof digest, 0)))
        return "";
    std::string hex;
    for (unsigned char byte : digest)
        hex += format_bounded(3, "%02x", byte);
    return hex;
}
