// The cache of the whitelist_url list and the lookup in it (central_list.h).
// A click reads the cache as it reads a rule file, in blocks, and checks its
// header and length; its checksum only when its last-write time is not the
// whole-second stamp Ostrilo gives it (taking one of 2.5 MB on every link
// would cost about a tenth of the run under Wine). Every refresh checks the
// checksum, so damage that keeps the stamp is found within
// whitelist_refresh_minutes.
#include "central_list.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "kvix_environment.h"
#include "local_store.h"
#include "log.h"
#include "nb_utils.h"
#include "run_context.h"
#include "url_rules.h"

namespace {

constexpr std::size_t block_bytes = 65536;

std::string local_file(const wchar_t* name)
{
    const std::optional<std::wstring> folder = ostrilo_local_folder();
    return folder ? wide_to_utf8(*folder + name).value_or("") : "";
}

// The cache opened for reading (another run may put a new one in place
// meanwhile), its header parsed from the first block.
struct open_cache {
    central_cache info;
    unique_file_handle file;
    std::vector<char> block = std::vector<char>(block_bytes);
    std::size_t got = 0, body_at = 0, length = 0;
    std::string sum;       // the header's checksum of the body
    bool stamped = false;  // written or found current by Ostrilo, which sets whole seconds
};

open_cache open_central_cache(const central_url& url)
{
    open_cache cache;
    central_cache& info = cache.info;
    info.path = local_file(L"\\central list.txt");
    cache.file = open_shared(info.path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    info.present = static_cast<bool>(cache.file);
    DWORD got = 0;
    BY_HANDLE_FILE_INFORMATION file{};
    if (!info.present || !ReadFile(cache.file.get(), cache.block.data(), block_bytes, &got, nullptr) ||
        !GetFileInformationByHandle(cache.file.get(), &file)) {
        info.unusable = info.present ? "cannot be read" : "there is none";
        return cache;
    }
    cache.got = got;
    const parsed_rule_copy parsed =
        parse_rule_copy(std::string_view(cache.block.data(), got), false, store_form::central_list);
    const rule_copy_header& header = parsed.header;
    info.format = header.format, info.time = header.time, info.etag = header.etag;
    info.last_modified = header.last_modified, info.rules_bytes = header.length;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    info.age_seconds = static_cast<long long>(file_ticks(now) - file_ticks(file.ftLastWriteTime)) /
                       static_cast<long long>(second_ticks);
    const std::uint64_t size = (static_cast<std::uint64_t>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
    info.damaged = parsed.damage || size != parsed.body_offset + header.length;
    if (parsed.damage)
        info.unusable = "damaged (" + *parsed.damage + ")";
    else if (info.damaged)
        info.unusable = "damaged (length " + std::to_string(size - parsed.body_offset) + " instead of " +
                        std::to_string(header.length) + " bytes)";
    else if (header.source != url.url)
        info.unusable = "of " + quoted_text(header.source) + ", not of this whitelist_url";
    cache.body_at = parsed.body_offset, cache.length = header.length, cache.sum = header.sha256;
    cache.stamped = file_ticks(file.ftLastWriteTime) % second_ticks == 0;
    return cache;
}

// The body, whole, checked against the header's checksum.
std::optional<std::string> whole_body(open_cache& cache)
{
    whole_read read;
    SetFilePointer(cache.file.get(), 0, nullptr, FILE_BEGIN);
    read_whole(cache.file.get(), read);
    if (read.error != 0 || read.bytes.size() != cache.body_at + cache.length)
        return std::nullopt;
    std::string body = read.bytes.substr(cache.body_at);
    if (sha256_hex(body) != cache.sum)
        return std::nullopt;
    return body;
}

}  // namespace

std::string central_lock_path()
{
    return local_file(L"\\central list.lock");
}

central_cache read_central_cache(const central_url& url, bool verify, std::string* rules)
{
    open_cache cache = open_central_cache(url);
    if (cache.info.unusable || (!verify && !rules && cache.stamped))
        return cache.info;
    std::optional<std::string> body = whole_body(cache);
    if (!body) {
        cache.info.unusable = "damaged (checksum does not match)";
        cache.info.damaged = true;
    } else if (rules) {
        *rules = std::move(*body);
    }
    return cache.info;
}

std::optional<std::pair<central_attempt, long long>> last_central_attempt(const std::string& url)
{
    const unique_file_handle file =
        open_shared(local_file(L"\\central list.state"), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!file)
        return std::nullopt;
    whole_read read;
    read.limit = 4096;
    read_whole(file.get(), read);
    const std::optional<central_attempt> attempt = parse_central_attempt(read.bytes);
    if (!attempt || attempt->source != url)
        return std::nullopt;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return std::pair(*attempt, static_cast<long long>((file_ticks(now) - file_ticks(read.written)) / second_ticks));
}

std::optional<central_url> central_url_in_force(run_context& run)
{
    const std::optional<std::string> value = get_whitelist_url(run);
    return value ? read_central_url(*value).url : std::nullopt;
}

bool consult_central_list(run_context& run, rule_decision& decision, std::string_view url, lookup_mode mode)
{
    const std::optional<central_url> source = central_url_in_force(run);
    if (!source)
        return false;
    open_cache cache = open_central_cache(*source);
    const bool usable = !cache.info.unusable;
    decision.consulted.push_back({"whitelist_url", cache.info.path, usable});
    if (!usable)
        return false;
    decision.from_url =
        rule_decision::central_answer{source->url, cache.info.path, cache.info.format, cache.info.time, std::nullopt};
    // Explaining reads it whole, to name the <site> of the rule; a cache whose
    // time is not the stamp is checked whole before it decides anything.
    std::optional<std::string> body;
    if (mode == lookup_mode::explaining || !cache.stamped) {
        body = whole_body(cache);
        if (!body) {
            decision.consulted.back().present = false;
            decision.from_url.reset();
            return false;
        }
    }
    // The body in blocks: the rest of the first one, then from the file.
    std::size_t first = std::min(cache.body_at, cache.got), left = cache.length;
    bool failed = false;
    const block_reader from_file = [&](char* buffer, std::size_t size) -> std::size_t {
        std::size_t got = std::min({size, cache.got - first, left});
        DWORD read = 0;
        if (got > 0) {
            std::memcpy(buffer, cache.block.data() + first, got);
            first += got;
        } else if (left > 0) {
            failed = !ReadFile(cache.file.get(), buffer, static_cast<DWORD>(std::min(size, left)), &read, nullptr) ||
                     read == 0;
            got = failed ? 0 : read;
        }
        left -= got;
        return got;
    };
    const bool hit = body ? consult_rule_blocks(decision, url, cache.info.path, memory_blocks{*body}, mode, true)
                          : consult_rule_blocks(decision, url, cache.info.path, from_file, mode, true);
    // The first matching rule is the same in a part as in the whole; no match
    // in a part is no answer at all.
    if (failed && !hit) {
        decision.consulted.back().present = false;
        decision.from_url.reset();
    }
    if (hit && body && cache.info.format == "site list")
        decision.from_url->site = central_site_of_line(*body, decision.hit->line);
    return hit;
}
