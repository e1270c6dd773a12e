// whitelist_copy=1: the last good copy of the whitelist_path file, kept for
// the user in %LOCALAPPDATA%\Ostrilo, and read in the file's place when the
// file cannot be read (a share out of reach, a file locked by a copy job).
//
// Only a whole read of the file counts. The file is read into memory (100,000
// rules are 2.5 MB) and held against its size and last-write time; then the
// link is looked up in those bytes, and the copy is compared with them and
// written from them. A read that fails, or that finds the file changing,
// decides nothing: the copy answers in its place.
#include "url_rules.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "events.h"
#include "log.h"
#include "nb_utils.h"
#include "unique_resource.h"

#include <bcrypt.h>

namespace {

constexpr std::size_t block_bytes = 65536;
constexpr wchar_t copy_folder[] = L"\\Ostrilo";
constexpr wchar_t copy_name[] = L"\\whitelist copy.txt";
constexpr std::uint64_t second = 10000000;  // in the 100 ns ticks of a FILETIME

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

std::uint64_t ticks(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A time as the copy's header writes it; "" for one that is not a whole second.
std::string header_time(const FILETIME& time)
{
    SYSTEMTIME utc{};
    if (ticks(time) % second != 0 || !FileTimeToSystemTime(&time, &utc))
        return "";
    return format_bounded(32, "%04u-%02u-%02u %02u:%02u:%02u UTC", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                          utc.wMinute, utc.wSecond);
}

// A run that died between writing its new copy and putting it in place (the
// machine switched off, the process ended) left "<copy>.<process id>.new"
// behind. A run that has just put its copy in place removes those last written
// more than an hour ago. A run still writing holds its file open without
// sharing, so the removal fails for it anyway; the hour also spares the moment
// between closing the file and putting it in place. Only runs that write the
// copy look, so a run whose copy is current pays nothing.
void remove_abandoned_copies(const std::wstring& copy)
{
    const std::wstring folder = copy.substr(0, copy.rfind(L'\\') + 1), name = copy.substr(folder.size()) + L".";
    WIN32_FIND_DATAW found{};
    const unique_find_handle search(FindFirstFileW((copy + L".*.new").c_str(), &found));
    if (!search)
        return;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    do {
        // The pattern also matches files by their short 8.3 names; only the copy's own new files go.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            std::wstring_view(found.cFileName).starts_with(name) &&
            ticks(now) > ticks(found.ftLastWriteTime) + 3600 * second)
            DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(search.get(), &found));
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

// One read of a file, whole, or why not.
struct whole_read {
    std::string path;
    std::string bytes = {};
    DWORD error = 0;
    // The file changed while it was read: its size or last-write time moved,
    // or the read came short of its size or went beyond it.
    bool torn = false;
    FILETIME written = {};
    // whitelist_timeout_ms: the run has given up on the thread reading it.
    std::atomic<bool> abandoned = false;
};

std::string failure_text(const whole_read& read)
{
    return read.error != 0 ? system_error_text(read.error) : read.torn ? "it changed while it was read" : "";
}

// Reads the open file to its end. Only a file on a disk or share has a size
// and a time to hold the read against (a pipe, as in the tests, has not).
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
    std::size_t filled = 0;
    try {
        for (DWORD got = 1; got > 0 && !read.abandoned; filled += got) {
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

// The whitelist_path file opened and read whole; a read that finds it
// changing is tried once more (a file caught while it is rewritten).
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

// The copy file opened, shared for deleting too: another run may put a new
// copy in place meanwhile.
unique_file_handle open_copy(rule_copy& copy)
{
    const std::optional<std::wstring> folder = local_app_data();
    copy.path = folder ? wide_to_utf8(*folder + copy_folder + copy_name).value_or("") : "";
    unique_file_handle file = open_shared(copy.path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    copy.present = static_cast<bool>(file);
    return file;
}

// Stamped: the copy's last-write time is still its read time, which Ostrilo
// gave it when it wrote it; any write to it since has moved it.
bool stamped(const rule_copy& copy, const FILETIME& written)
{
    return !copy.parsed.header.time.empty() && header_time(written) == copy.parsed.header.time;
}

// The copy file read whole, its header parsed.
rule_copy read_copy()
{
    rule_copy copy;
    const unique_file_handle file = open_copy(copy);
    if (!file)
        return copy;
    whole_read read;
    read_whole(file.get(), read);
    copy.text = std::move(read.bytes);
    copy.parsed = parse_rule_copy(copy.text);
    if (read.error != 0 || read.torn)
        copy.parsed.damage = "cannot be read to its end";
    copy.stamped = stamped(copy, read.written);
    return copy;
}

// The copy's header, and whether its body is exactly these bytes, compared
// block by block as it is read, so that a run whose copy is current holds
// the file's bytes once, not twice (fresh memory for 2.5 MB costs more than
// reading them).
rule_copy compare_copy(std::string_view bytes, bool& same)
{
    rule_copy copy;
    const unique_file_handle file = open_copy(copy);
    std::vector<char> block(block_bytes);
    DWORD got = 0;
    BY_HANDLE_FILE_INFORMATION info{};
    same = file && ReadFile(file.get(), block.data(), block_bytes, &got, nullptr) &&
           GetFileInformationByHandle(file.get(), &info);
    if (!file)
        return copy;
    copy.parsed = parse_rule_copy(std::string_view(block.data(), got), false);
    copy.stamped = stamped(copy, info.ftLastWriteTime);
    same = same && !copy.parsed.damage;
    for (std::size_t at = copy.parsed.body_offset; same && got > 0; at = 0) {
        const std::string_view part(block.data() + at, got - at);
        same = bytes.substr(0, part.size()) == part && ReadFile(file.get(), block.data(), block_bytes, &got, nullptr);
        bytes.remove_prefix(std::min(part.size(), bytes.size()));
    }
    same = same && bytes.empty();
    return copy;
}

void check_sum(rule_copy& copy, const std::string& sum)
{
    if (copy.present && !copy.parsed.damage && copy.parsed.header.sha256 != sum)
        copy.parsed.damage = "checksum does not match";
}

// The copy that may answer for preset: present, of that same path, and whole
// (its checksum is taken only then).
bool stands_in(rule_copy& copy, const std::string& preset)
{
    const parsed_rule_copy& parsed = copy.parsed;
    if (parsed.header.source == preset)
        check_sum(copy, sha256_hex(copy.body()));
    return copy.present && !parsed.damage && parsed.header.source == preset;
}

// Bytes in memory handed out in blocks, as from a file.
struct memory_blocks {
    std::string_view bytes;
    std::size_t operator()(char* buffer, std::size_t size)
    {
        const std::size_t got = std::min(size, bytes.size());
        std::memcpy(buffer, bytes.data(), got);
        bytes.remove_prefix(got);
        return got;
    }
};

// Writes the new copy beside the old one, flushed to the disk and stamped,
// and puts it in the old one's place in one step, so that a run that dies
// before leaves the old copy whole; gives the system error, or 0.
DWORD put_copy_in_place(const std::string& path, const std::string& header, std::string_view bytes,
                        const FILETIME& stamp)
{
    const std::wstring copy = utf8_to_wide(path).value_or(L"");
    if (copy.empty())
        return ERROR_PATH_NOT_FOUND;
    const std::wstring folder = copy.substr(0, copy.rfind(L'\\'));
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return GetLastError();
    // Named after the process, so that runs at the same time never share one.
    const std::wstring fresh = copy + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
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
    // Refused, the stamp costs no more than the copy written anew by the next link.
    SetFileTime(file.get(), nullptr, nullptr, &stamp);
    if (error == 0 && !FlushFileBuffers(file.get()))
        error = GetLastError();
    file.reset();
    // Another run may be replacing the copy at this moment; that takes only a
    // moment, so a few short tries settle it.
    for (int tries = 0; error == 0 && tries < 20; ++tries) {
        if (MoveFileExW(fresh.c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            remove_abandoned_copies(copy);
            return 0;
        }
        error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            error = tries < 19 ? 0 : error, Sleep(10);
    }
    DeleteFileW(fresh.c_str());
    return error;
}

// After a whole read of the file, acting: the copy made current. A copy that
// holds these bytes for this file and is stamped is current: nothing is
// written, and no checksum is taken (one of 2.5 MB on every link would cost
// a tenth of the run under Wine), for the stamp shows that nothing has
// written the copy since Ostrilo wrote and hashed it. Any other copy is
// written anew; one that holds these bytes under another checksum was
// damaged.
void keep_copy(const std::string& source, std::string_view bytes)
{
    bool same_bytes = false;
    rule_copy old = compare_copy(bytes, same_bytes);
    if (same_bytes && old.stamped && old.parsed.header.source == source)
        return;
    const std::string sum = sha256_hex(bytes);
    if (same_bytes)
        check_sum(old, sum);
    if (bytes.empty() && old.present && !old.parsed.damage) {
        old = read_copy();
        check_sum(old, sha256_hex(old.body()));
    }
    if (old.parsed.damage) {
        LOG_OSTRILO(LOG_ERROR, "whitelist_copy: the copy %s is damaged (%s); it is replaced", old.path.c_str(),
                    old.parsed.damage->c_str());
        write_event<event_kind::copy_damaged>(old.path, source, *old.parsed.damage, "It is replaced.");
    } else if (bytes.empty() && has_rule_lines(rule_text_as_read(old.body()))) {
        // An empty read comes mostly from a share whose file is being
        // rewritten; it never replaces rules.
        LOG_OSTRILO(LOG_WARN, "whitelist_copy: %s is empty; the copy %s with rules of %s is kept", source.c_str(),
                    old.path.c_str(), old.parsed.header.time.c_str());
        return;
    }
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t whole = ticks(now) / second * second;
    const FILETIME stamp{static_cast<DWORD>(whole), static_cast<DWORD>(whole >> 32)};
    const std::string header = rule_copy_header_text({source, header_time(stamp), sum, bytes.size()});
    const DWORD error = sum.empty() ? ERROR_INVALID_DATA : put_copy_in_place(old.path, header, bytes, stamp);
    if (error == 0)
        return;
    const std::string folder = old.path.empty() ? "%LOCALAPPDATA%\\Ostrilo" : old.path;
    LOG_OSTRILO(LOG_WARN, "whitelist_copy: cannot keep a copy of %s in %s (%s); going on without it", source.c_str(),
                folder.c_str(), system_error_text(error).c_str());
    write_event<event_kind::copy_not_kept>(source, folder, system_error_text(error));
}

// The link looked up in the copy in the file's place, for the reason given.
void consult_copy(rule_decision& decision, std::string_view url, const std::string& preset, lookup_mode mode,
                  const rule_copy& copy, const std::string& reason)
{
    decision.consulted.push_back({"whitelist_path", preset, false});
    decision.consulted.push_back({"whitelist_copy", copy.path, true});
    decision.from_copy = rule_decision::copy_answer{copy.path, copy.parsed.header.time, reason};
    if (mode == lookup_mode::acting)
        LOG_OSTRILO(LOG_WARN, "whitelist_copy: cannot read %s (%s); using its copy of %s from %s", preset.c_str(),
                    reason.c_str(), copy.parsed.header.time.c_str(), copy.path.c_str());
    consult_rule_blocks(decision, url, copy.path, memory_blocks{copy.body()}, mode);
}

// The file that cannot be read whole: its copy answers, or the run stops as
// for a missing file.
copy_use consult_copy_instead(rule_decision& decision, std::string_view url, const std::string& preset,
                              lookup_mode mode, const std::string& reason)
{
    const bool acting = mode == lookup_mode::acting;
    rule_copy copy = read_copy();
    if (stands_in(copy, preset)) {
        consult_copy(decision, url, preset, mode, copy, reason);
        if (acting)
            write_event<event_kind::copy_answered>(preset, reason, copy.parsed.header.time, copy.path);
        return copy_use::answered;
    }
    if (acting && copy.parsed.damage) {
        LOG_OSTRILO(LOG_ERROR, "whitelist_copy: the copy %s is damaged (%s); ignored", copy.path.c_str(),
                    copy.parsed.damage->c_str());
        write_event<event_kind::copy_damaged>(copy.path, preset, *copy.parsed.damage,
                                              "It is ignored, and the file cannot be read.");
    } else if (acting && copy.present)
        LOG_OSTRILO(LOG_WARN, "whitelist_copy: the copy %s is of %s, not of %s; not used", copy.path.c_str(),
                    copy.parsed.header.source.c_str(), preset.c_str());
    return copy_use::unreadable;
}

DWORD WINAPI read_on_thread(void* read)
{
    read_source(*static_cast<whole_read*>(read));
    return 0;
}

// Gives up on the thread: its open or read cancelled (tried again should the
// thread have been between two reads), then a moment to end. A thread that
// does not end stays blocked in the system, holding nothing of the run's,
// until the process ends; its state goes with it.
void abandon(std::unique_ptr<whole_read>& read, const unique_handle& thread)
{
    read->abandoned = true;
    for (int tries = 0; tries < 5; ++tries) {
        CancelSynchronousIo(thread.get());
        if (WaitForSingleObject(thread.get(), 20) != WAIT_TIMEOUT)
            return;
    }
    static_cast<void>(read.release());
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

rule_copy read_rule_copy(bool verify)
{
    rule_copy copy = read_copy();
    if (verify)
        check_sum(copy, sha256_hex(copy.body()));
    return copy;
}

std::optional<bool> file_matches_copy(const std::string& path, const rule_copy& copy, std::string& reason)
{
    whole_read read;
    read.path = path;
    read_source(read);
    reason = failure_text(read);
    if (!reason.empty())
        return std::nullopt;
    return copy.present && !copy.parsed.damage && copy.body() == read.bytes;
}

// The file is read whole; with whitelist_timeout_ms (timeout_ms not 0) on a
// thread of its own, so that a share that does not answer holds the run no
// longer than the key says. The thread writes no records and takes no lock
// of the run's (the log is the run's alone). When the file has not been opened and read
// within timeout_ms, an intact copy of it answers; without one the run waits
// on, as without the key, since nothing else could answer for the file.
copy_use consult_whitelist_with_copy(rule_decision& decision, std::string_view url, const std::string& preset,
                                     lookup_mode mode, unsigned long timeout_ms)
{
    auto read = std::make_unique<whole_read>();
    read->path = preset;
    const unique_handle thread(timeout_ms == 0 ? nullptr
                                               : CreateThread(nullptr, 0, read_on_thread, read.get(), 0, nullptr));
    if (!thread) {
        read_source(*read);
    } else if (WaitForSingleObject(thread.get(), timeout_ms) == WAIT_TIMEOUT) {
        if (rule_copy copy = read_copy(); stands_in(copy, preset)) {
            abandon(read, thread);
            consult_copy(decision, url, preset, mode, copy,
                         format_bounded(64, "did not answer within %lu ms", timeout_ms));
            decision.from_copy->timeout_ms = timeout_ms;
            if (mode == lookup_mode::acting)
                write_event<event_kind::slow_file_copy_answered>(preset, std::to_string(timeout_ms),
                                                                 copy.parsed.header.time, copy.path);
            return copy_use::answered;
        }
        if (mode == lookup_mode::acting) {
            LOG_OSTRILO(LOG_WARN,
                        "whitelist_timeout_ms: %s did not answer within %lu ms and has no intact copy; waiting on",
                        preset.c_str(), timeout_ms);
            write_event<event_kind::slow_file_waited_for>(preset, std::to_string(timeout_ms));
        }
        WaitForSingleObject(thread.get(), INFINITE);
    }
    if (const std::string failure = failure_text(*read); !failure.empty())
        return consult_copy_instead(decision, url, preset, mode, failure);
    decision.consulted.push_back({"whitelist_path", preset, true});
    if (mode == lookup_mode::acting)
        LOG_OSTRILO(LOG_DEBUG, "Found predefined whitelist path. Checking if url is in whitelist in this file: %s",
                    preset.c_str());
    consult_rule_blocks(decision, url, preset, memory_blocks{read->bytes}, mode);
    if (mode == lookup_mode::acting)
        keep_copy(preset, read->bytes);
    return copy_use::answered;
}
