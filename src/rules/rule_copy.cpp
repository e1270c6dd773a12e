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

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "events.h"
#include "local_store.h"
#include "log.h"
#include "nb_utils.h"

namespace {

constexpr std::size_t block_bytes = 65536;
constexpr wchar_t copy_name[] = L"\\whitelist copy.txt";

// The copy file opened, shared for deleting too: another run may put a new
// copy in place meanwhile.
unique_file_handle open_copy(rule_copy& copy)
{
    const std::optional<std::wstring> folder = ostrilo_local_folder();
    copy.path = folder ? wide_to_utf8(*folder + copy_name).value_or("") : "";
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
    const FILETIME stamp = whole_second_now();
    const std::string header = rule_copy_header_text({source, header_time(stamp), sum, bytes.size()});
    const DWORD error = sum.empty() ? ERROR_INVALID_DATA : put_file_in_place(old.path, header, bytes, stamp);
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
