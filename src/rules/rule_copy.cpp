// whitelist_copy=1: the last good copy of the whitelist_path file, kept for
// the user in %LOCALAPPDATA%\Ostrilo, and read in the file's place when the
// file cannot be read (a share out of reach, a file locked by a copy job).
//
// Everything is read and written in blocks of one buffer, as the lookup
// reads a rule file: fresh memory for a whole file of 100,000 rules costs
// more than reading it.
#include "url_rules.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <cstdlib>
#include <cstring>
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
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    constexpr std::uint64_t hour = 3600ull * 10000000ull;  // in the 100 ns ticks of a FILETIME
    do {
        // The pattern also matches files by their short 8.3 names; only the copy's own new files go.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            std::wstring_view(found.cFileName).starts_with(name) && ticks(now) > ticks(found.ftLastWriteTime) + hour)
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

// Blocks of an open file; a failed read ends it and is remembered.
struct file_blocks {
    HANDLE file;
    bool failed = false;
    std::size_t operator()(char* buffer, std::size_t size)
    {
        DWORD got = 0;
        if (!ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr))
            failed = true;
        return got;
    }
};

// Reads until size bytes or the end.
std::size_t read_fully(file_blocks& blocks, char* buffer, std::size_t size)
{
    std::size_t filled = 0;
    for (std::size_t got = 1; filled < size && got > 0; filled += got)
        got = blocks(buffer + filled, size - filled);
    return filled;
}

// SHA-256 from Windows' own CNG (bcrypt.dll, Windows 7 and later): it finds
// any damage, not only what a short sum catches, and needs no code of ours.
// The library is loaded only when a hash is taken (a copy written or used;
// a run whose copy is current compares bytes instead), so that no other run
// pays for loading it; under Wine it hashes four times as fast as CryptoAPI.
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

struct sha256_stream {
    unique_any<BCRYPT_ALG_HANDLE, &close_algorithm> algorithm;
    unique_any<BCRYPT_HASH_HANDLE, &destroy_hash> hash;
    bool ok = cng().ok && BCRYPT_SUCCESS(cng().open(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
              BCRYPT_SUCCESS(cng().create(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0));
    void add(const char* data, std::size_t size)
    {
        ok = ok && BCRYPT_SUCCESS(cng().add(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data)),
                                            static_cast<ULONG>(size), 0));
    }
    std::string finish()
    {
        unsigned char digest[32];
        if (!ok || !BCRYPT_SUCCESS(cng().finish(hash.get(), digest, sizeof digest, 0)))
            return "";
        std::string hex;
        for (unsigned char byte : digest)
            hex += format_bounded(3, "%02x", byte);
        return hex;
    }
};

// The copy file open for reading, its header parsed, positioned at its body.
struct open_copy {
    rule_copy info;
    unique_file_handle handle;
    file_blocks blocks{nullptr};
};

open_copy open_rule_copy()
{
    open_copy copy;
    const std::optional<std::wstring> folder = local_app_data();
    if (!folder)
        return copy;
    copy.info.path = wide_to_utf8(*folder + copy_folder + copy_name).value_or("");
    // Shared for deleting too: another run may put a new copy in place meanwhile.
    copy.handle = open_shared(copy.info.path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!copy.handle)
        return copy;
    copy.info.present = true;
    copy.blocks.file = copy.handle.get();
    std::string head(block_bytes, '\0');
    head.resize(read_fully(copy.blocks, head.data(), head.size()));
    copy.info.parsed = parse_rule_copy(head, head.size() < block_bytes);
    if (copy.info.parsed.damage && copy.info.parsed.body_offset == 0)
        return copy;
    LARGE_INTEGER body{};
    body.QuadPart = static_cast<LONGLONG>(copy.info.parsed.body_offset);
    SetFilePointerEx(copy.handle.get(), body, nullptr, FILE_BEGIN);
    return copy;
}

// Reads the body to its end: its length and checksum against the header;
// then back to its start.
void verify_body(open_copy& copy)
{
    parsed_rule_copy& parsed = copy.info.parsed;
    if (!copy.info.present || parsed.damage)
        return;
    sha256_stream hash;
    std::vector<char> block(block_bytes);
    std::size_t length = 0;
    for (std::size_t got; (got = copy.blocks(block.data(), block.size())) > 0; length += got)
        hash.add(block.data(), got);
    if (copy.blocks.failed)
        parsed.damage = "cannot be read to its end";
    else if (length != parsed.header.length)
        parsed.damage =
            "length " + std::to_string(length) + " instead of " + std::to_string(parsed.header.length) + " bytes";
    else if (hash.finish() != parsed.header.sha256)
        parsed.damage = "checksum does not match";
    LARGE_INTEGER body{};
    body.QuadPart = static_cast<LONGLONG>(parsed.body_offset);
    SetFilePointerEx(copy.handle.get(), body, nullptr, FILE_BEGIN);
}

// While the whitelist_path file passes by, block by block: compares it with
// the copy, and from the first difference on writes a new copy, so that a run
// whose copy is current reads both and writes nothing.
struct copy_keeper {
    const std::string& source;
    open_copy old;
    bool same = old.info.present && !old.info.parsed.damage && old.info.parsed.header.source == source;
    std::size_t passed = 0;
    std::vector<char> other = std::vector<char>(block_bytes);
    // The new copy, once one is needed.
    bool writing = false;
    std::wstring fresh = {};
    unique_file_handle file = {};
    std::optional<sha256_stream> hash = {};
    DWORD error = 0;
    std::string time = utc_now();

    void write(const char* data, std::size_t size)
    {
        DWORD written = 0;
        if (error == 0 &&
            (!WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size))
            error = GetLastError();
        hash->add(data, size);
    }

    // The new copy begins with a header of the final size, then the bytes
    // that matched the old copy so far, read from it again.
    void start_writing()
    {
        writing = true;
        hash.emplace();
        const std::optional<std::wstring> path = utf8_to_wide(old.info.path);
        if (old.info.path.empty() || !path) {
            error = ERROR_PATH_NOT_FOUND;
            return;
        }
        const std::wstring folder = path->substr(0, path->rfind(L'\\'));
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            error = GetLastError();
            return;
        }
        // Named after the process, so that runs at the same time never share one.
        fresh = *path + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
        file.reset(
            CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = GetLastError();
            return;
        }
        const std::string header = rule_copy_header_text({source, time, std::string(64, '0'), 0});
        DWORD written = 0;
        if (!WriteFile(file.get(), header.data(), static_cast<DWORD>(header.size()), &written, nullptr))
            error = GetLastError();
        if (passed == 0)
            return;
        open_copy again = open_rule_copy();
        for (std::size_t left = passed, got; left > 0 && error == 0; left -= got) {
            got = read_fully(again.blocks, other.data(), std::min(left, other.size()));
            if (got == 0)
                error = ERROR_HANDLE_EOF;
            write(other.data(), got);
        }
    }

    void pass(const char* data, std::size_t size)
    {
        if (same &&
            (read_fully(old.blocks, other.data(), size) != size || std::memcmp(other.data(), data, size) != 0)) {
            same = false;
            start_writing();
        } else if (!same && !writing) {
            start_writing();
        }
        if (writing)
            write(data, size);
        passed += size;
    }

    bool old_has_rules()
    {
        std::string body(old.info.parsed.header.length, '\0');
        body.resize(read_fully(old.blocks, body.data(), body.size()));
        return has_rule_lines(rule_text_as_read(body));
    }

    // After the whole file passed: the new copy in place of the old one.
    // Never torn: the new copy is a file of its own beside the old one,
    // flushed to the disk, and then takes the old one's place in one step; a
    // run that dies before leaves the old copy whole.
    void finish(bool read_failed)
    {
        if (same && passed == old.info.parsed.header.length && read_fully(old.blocks, other.data(), 1) == 0)
            return;
        if (old.info.present && old.info.parsed.damage) {
            LOG_OSTRILO(LOG_ERROR, "whitelist_copy: the copy %s is damaged (%s); it is replaced", old.info.path.c_str(),
                        old.info.parsed.damage->c_str());
            write_event<event_kind::copy_damaged>(old.info.path, source, *old.info.parsed.damage, "It is replaced.");
        }
        // An empty read comes mostly from a share whose file is being
        // rewritten; it never replaces rules.
        if (passed == 0 && old.info.present && !old.info.parsed.damage && old_has_rules()) {
            LOG_OSTRILO(LOG_WARN, "whitelist_copy: %s is empty; the copy %s with rules of %s is kept", source.c_str(),
                        old.info.path.c_str(), old.info.parsed.header.time.c_str());
            return;
        }
        if (!writing)
            start_writing();
        if (read_failed)
            error = ERROR_READ_FAULT;
        const std::string header = rule_copy_header_text({source, time, hash->finish(), passed});
        DWORD written = 0;
        if (error == 0 &&
            (header.find("sha256: \r") != std::string::npos ||
             SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) != 0 ||
             !WriteFile(file.get(), header.data(), static_cast<DWORD>(header.size()), &written, nullptr) ||
             !FlushFileBuffers(file.get())))
            error = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_DATA;
        file.reset();
        // Windows refuses to replace a file that is open, also by this run.
        old.handle.reset();
        // Another run may be replacing the copy at this moment; that takes
        // only a moment, so a few short tries settle it.
        for (int tries = 0; error == 0 && tries < 20; ++tries) {
            const std::wstring path = utf8_to_wide(old.info.path).value_or(L"");
            if (MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                remove_abandoned_copies(path);
                return;
            }
            error = GetLastError();
            if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
                error = tries < 19 ? 0 : error, Sleep(10);
        }
        if (!fresh.empty())
            DeleteFileW(fresh.c_str());
        LOG_OSTRILO(LOG_WARN, "whitelist_copy: cannot keep a copy of %s in %s (%s); going on without it",
                    source.c_str(), old.info.path.empty() ? "%LOCALAPPDATA%\\Ostrilo" : old.info.path.c_str(),
                    system_error_text(error).c_str());
        write_event<event_kind::copy_not_kept>(
            source, old.info.path.empty() ? "%LOCALAPPDATA%\\Ostrilo" : old.info.path, system_error_text(error));
    }
};

// The rule bytes a thread read whole, handed out in blocks as from the file.
struct memory_blocks {
    std::string_view bytes;
    bool failed = false;
    std::size_t operator()(char* buffer, std::size_t size)
    {
        const std::size_t got = std::min(size, bytes.size());
        std::memcpy(buffer, bytes.data(), got);
        bytes.remove_prefix(got);
        return got;
    }
};

// whitelist_timeout_ms: the whitelist_path file opened and read whole on a
// thread of its own, so that a share that does not answer holds the run no
// longer than the key says. The thread writes no records and takes no lock
// of the run's (the log is the run's alone); what it read is handed back
// whole. Once the run has given up on it, it appends nothing more, and its
// state is left to the end of the process.
struct whole_read {
    std::string path;
    std::string bytes = {};
    std::vector<char> block = std::vector<char>(block_bytes);
    DWORD open_error = 0;
    bool failed = false;
    std::atomic<bool> abandoned = false;
};

DWORD WINAPI read_whole(void* parameter)
{
    whole_read& read = *static_cast<whole_read*>(parameter);
    const unique_file_handle file = open_shared(read.path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!file) {
        read.open_error = GetLastError();
        return 0;
    }
    file_blocks blocks{file.get()};
    for (std::size_t got; !read.abandoned && (got = blocks(read.block.data(), read.block.size())) > 0;)
        if (!read.abandoned)
            read.bytes.append(read.block.data(), got);
    read.failed = blocks.failed;
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

// The copy that may answer for preset: present, of that same path, and whole
// (its checksum is taken only then).
bool copy_stands_in(open_copy& copy, const std::string& preset)
{
    const parsed_rule_copy& parsed = copy.info.parsed;
    if (parsed.header.source == preset)
        verify_body(copy);
    return copy.info.present && !parsed.damage && parsed.header.source == preset;
}

// The link looked up in the copy in the file's place, for the reason given.
void consult_copy(rule_decision& decision, std::string_view url, const std::string& preset, lookup_mode mode,
                  open_copy& copy, const std::string& reason)
{
    decision.consulted.push_back({"whitelist_path", preset, false});
    decision.consulted.push_back({"whitelist_copy", copy.info.path, true});
    decision.from_copy = rule_decision::copy_answer{copy.info.path, copy.info.parsed.header.time, reason};
    if (mode == lookup_mode::acting)
        LOG_OSTRILO(LOG_WARN, "whitelist_copy: cannot read %s (%s); using its copy of %s from %s", preset.c_str(),
                    reason.c_str(), copy.info.parsed.header.time.c_str(), copy.info.path.c_str());
    consult_rule_blocks(decision, url, copy.info.path, std::ref(copy.blocks), mode);
}

// The file that could be opened: the link looked up in it, and, acting, the
// copy kept while its bytes pass by.
template <class Blocks>
void consult_source(rule_decision& decision, std::string_view url, const std::string& preset, lookup_mode mode,
                    Blocks& blocks)
{
    decision.consulted.push_back({"whitelist_path", preset, true});
    if (mode != lookup_mode::acting) {
        consult_rule_blocks(decision, url, preset, std::ref(blocks), mode);
        return;
    }
    LOG_OSTRILO(LOG_DEBUG, "Found predefined whitelist path. Checking if url is in whitelist in this file: %s",
                preset.c_str());
    copy_keeper keeper{preset, open_rule_copy()};
    const auto passing = [&](char* buffer, std::size_t size) {
        const std::size_t got = blocks(buffer, size);
        keeper.pass(buffer, got);
        return got;
    };
    consult_rule_blocks(decision, url, preset, passing, mode);
    // The copy needs the whole file, also behind the matching rule.
    std::vector<char> rest(block_bytes);
    while (passing(rest.data(), rest.size()) > 0)
        ;
    keeper.finish(blocks.failed);
}

// The file that cannot be opened: its copy answers, or the step runs as
// without the key.
copy_use consult_copy_instead(rule_decision& decision, std::string_view url, const std::string& preset,
                              lookup_mode mode, DWORD source_error)
{
    const bool acting = mode == lookup_mode::acting;
    open_copy copy = open_rule_copy();
    if (copy_stands_in(copy, preset)) {
        consult_copy(decision, url, preset, mode, copy, system_error_text(source_error));
        if (acting)
            write_event<event_kind::copy_answered>(preset, system_error_text(source_error),
                                                   copy.info.parsed.header.time, copy.info.path);
        return copy_use::answered;
    }
    const parsed_rule_copy& parsed = copy.info.parsed;
    if (acting && copy.info.present && parsed.damage) {
        LOG_OSTRILO(LOG_ERROR, "whitelist_copy: the copy %s is damaged (%s); ignored", copy.info.path.c_str(),
                    parsed.damage->c_str());
        write_event<event_kind::copy_damaged>(copy.info.path, preset, *parsed.damage,
                                              "It is ignored, and the file cannot be read.");
    } else if (acting && copy.info.present)
        LOG_OSTRILO(LOG_WARN, "whitelist_copy: the copy %s is of %s, not of %s; not used", copy.info.path.c_str(),
                    parsed.header.source.c_str(), preset.c_str());
    return copy_use::as_without_copy;
}

// whitelist_timeout_ms: as above, with the file read whole on a thread. When
// it has not been opened and read within timeout_ms, an intact copy of it
// answers; without one the run waits on, as without the key, since nothing
// else could answer for the file.
copy_use consult_within(rule_decision& decision, std::string_view url, const std::string& preset, lookup_mode mode,
                        unsigned long timeout_ms)
{
    auto read = std::make_unique<whole_read>();
    read->path = preset;
    const unique_handle thread(CreateThread(nullptr, 0, read_whole, read.get(), 0, nullptr));
    if (!thread) {
        read_whole(read.get());
    } else if (WaitForSingleObject(thread.get(), timeout_ms) == WAIT_TIMEOUT) {
        if (open_copy copy = open_rule_copy(); copy_stands_in(copy, preset)) {
            abandon(read, thread);
            consult_copy(decision, url, preset, mode, copy,
                         format_bounded(64, "did not answer within %lu ms", timeout_ms));
            decision.from_copy->timeout_ms = timeout_ms;
            if (mode == lookup_mode::acting)
                write_event<event_kind::slow_file_copy_answered>(preset, std::to_string(timeout_ms),
                                                                 copy.info.parsed.header.time, copy.info.path);
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
    if (read->open_error != 0)
        return consult_copy_instead(decision, url, preset, mode, read->open_error);
    memory_blocks blocks{read->bytes, read->failed};
    consult_source(decision, url, preset, mode, blocks);
    return copy_use::answered;
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
    sha256_stream hash;
    hash.add(bytes.data(), bytes.size());
    return hash.finish();
}

rule_copy read_rule_copy(bool verify)
{
    open_copy copy = open_rule_copy();
    if (verify)
        verify_body(copy);
    return copy.info;
}

std::optional<bool> file_matches_copy(const std::string& path, const rule_copy& copy, unsigned long& error)
{
    const unique_file_handle file = open_shared(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!file) {
        error = GetLastError();
        return std::nullopt;
    }
    copy_keeper keeper{copy.parsed.header.source, open_rule_copy()};
    keeper.same = true;
    std::vector<char> block(block_bytes);
    file_blocks blocks{file.get()};
    for (std::size_t got; keeper.same && (got = blocks(block.data(), block.size())) > 0; keeper.passed += got)
        keeper.same = read_fully(keeper.old.blocks, keeper.other.data(), got) == got &&
                      std::memcmp(keeper.other.data(), block.data(), got) == 0;
    return keeper.same && keeper.passed == copy.parsed.header.length;
}

copy_use consult_whitelist_with_copy(rule_decision& decision, std::string_view url, const std::string& preset,
                                     lookup_mode mode, unsigned long timeout_ms)
{
    if (timeout_ms != 0)
        return consult_within(decision, url, preset, mode, timeout_ms);
    const unique_file_handle source = open_shared(preset, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!source)
        return consult_copy_instead(decision, url, preset, mode, GetLastError());
    file_blocks blocks{source.get()};
    consult_source(decision, url, preset, mode, blocks);
    return copy_use::answered;
}
