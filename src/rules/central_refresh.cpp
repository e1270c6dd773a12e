// Fetching the whitelist_url list (central_list.h): one conditional request
// over WinHTTP, or a whole read of a file: URL, on a thread of its own and
// bounded; the conversion; the cache put in place in one step, as the copy of
// the whitelist_path file is. At most one refresh at a time per user: the
// lock file "central list.lock", opened without sharing (its handle goes with
// the process, however that ends); the others skip theirs. The result of the
// last refresh is kept in "central list.state" for status and for the next
// runs, which try a failed refresh again only after five minutes, so that an
// offline laptop writes one WARN record, not one per link.
#include "central_list.h"

#include "unique_resource.h"

#include <winhttp.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <vector>

#include "events.h"
#include "kvix_environment.h"
#include "local_store.h"
#include "log.h"
#include "nb_utils.h"
#include "run_context.h"
#include "sitelist.h"
#include "url_rules.h"

namespace {

constexpr unsigned long refresh_bound_ms = 30000;
constexpr unsigned long first_fetch_default_ms = 5000;
constexpr long long retry_after_failure_seconds = 300;
constexpr DWORD start_pause_ms = 500;
// The events' words for a run without a usable cache.
constexpr char without_list[] = "Links go without the list until it is fetched.";
constexpr int most_redirects = 10;
// Runs reading the cache hold it open for a moment; a new one waits for them.
constexpr int put_in_place_tries = 500;

// WinHTTP, loaded from the system folder by the first fetch, so that a run
// without whitelist_url, or whose cache is current, does not load it and the
// DLLs it brings (as the checksum's bcrypt.dll is loaded only when needed).
struct winhttp_functions {
    // Never freed: a fetch given up on may still be inside it when the process ends.
    HMODULE library = LoadLibraryW((system_folder() + L"\\winhttp.dll").c_str());
    template <class Function>
    Function find(const char* name) const
    {
        return library ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name))) : nullptr;
    }
    static std::wstring system_folder()
    {
        wchar_t folder[MAX_PATH] = L"";
        return std::wstring(folder, GetSystemDirectoryW(folder, MAX_PATH));
    }
    decltype(&WinHttpOpen) Open = find<decltype(Open)>("WinHttpOpen");
    decltype(&WinHttpCloseHandle) CloseHandle = find<decltype(CloseHandle)>("WinHttpCloseHandle");
    decltype(&WinHttpSetTimeouts) SetTimeouts = find<decltype(SetTimeouts)>("WinHttpSetTimeouts");
    decltype(&WinHttpCrackUrl) CrackUrl = find<decltype(CrackUrl)>("WinHttpCrackUrl");
    decltype(&WinHttpConnect) Connect = find<decltype(Connect)>("WinHttpConnect");
    decltype(&WinHttpOpenRequest) OpenRequest = find<decltype(OpenRequest)>("WinHttpOpenRequest");
    decltype(&WinHttpSetOption) SetOption = find<decltype(SetOption)>("WinHttpSetOption");
    decltype(&WinHttpSendRequest) SendRequest = find<decltype(SendRequest)>("WinHttpSendRequest");
    decltype(&WinHttpReceiveResponse) ReceiveResponse = find<decltype(ReceiveResponse)>("WinHttpReceiveResponse");
    decltype(&WinHttpQueryHeaders) QueryHeaders = find<decltype(QueryHeaders)>("WinHttpQueryHeaders");
    decltype(&WinHttpReadData) ReadData = find<decltype(ReadData)>("WinHttpReadData");
    decltype(&WinHttpQueryAuthSchemes) QueryAuthSchemes = find<decltype(QueryAuthSchemes)>("WinHttpQueryAuthSchemes");
    decltype(&WinHttpSetCredentials) SetCredentials = find<decltype(SetCredentials)>("WinHttpSetCredentials");
    decltype(&WinHttpGetIEProxyConfigForCurrentUser) GetIEProxyConfigForCurrentUser =
        find<decltype(GetIEProxyConfigForCurrentUser)>("WinHttpGetIEProxyConfigForCurrentUser");
    decltype(&WinHttpGetProxyForUrl) GetProxyForUrl = find<decltype(GetProxyForUrl)>("WinHttpGetProxyForUrl");
    bool ok = Open && CloseHandle && SetTimeouts && CrackUrl && Connect && OpenRequest && SetOption && SendRequest &&
              ReceiveResponse && QueryHeaders && ReadData && QueryAuthSchemes && SetCredentials &&
              GetIEProxyConfigForCurrentUser && GetProxyForUrl;
};

const winhttp_functions& http()
{
    static const winhttp_functions functions;
    return functions;
}

void close_internet(HINTERNET handle)
{
    http().CloseHandle(handle);
}
using unique_internet = unique_any<HINTERNET, &close_internet>;

// One fetch, shared by the run and the thread that does it.
struct fetch_job {
    central_url url;
    std::string etag, last_modified;  // the validators sent (the cache's)
    DWORD started = GetTickCount();
    unsigned long bound = 0;
    enum class answer { failed, list, not_modified } kind = answer::failed;
    std::string body, new_etag, new_last_modified, error;
    whole_read file;  // a file: URL's read
};

// The errors a fetch meets most, for a system whose winhttp.dll has no texts
// for them (Wine's); Windows' own texts come first.
const std::pair<DWORD, const char*> winhttp_errors[] = {
    {ERROR_WINHTTP_TIMEOUT, "The operation timed out."},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, "The server name could not be resolved."},
    {ERROR_WINHTTP_CANNOT_CONNECT, "No connection with the server could be made."},
    {ERROR_WINHTTP_CONNECTION_ERROR, "The connection with the server was reset or ended."},
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "The server's answer could not be read."},
    {ERROR_WINHTTP_SECURE_FAILURE, "The server's certificate was not accepted."},
};

std::string error_text(DWORD error)
{
    const std::string text = system_error_text(error);
    for (const auto& [number, fallback] : winhttp_errors)
        if (number == error && text.ends_with(": "))
            return text + fallback;
    return text;
}

unsigned long left_ms(const fetch_job& job)
{
    const unsigned long spent = GetTickCount() - job.started;
    return spent < job.bound ? job.bound - spent : 0;
}

void fail(fetch_job& job, std::string why)
{
    job.kind = fetch_job::answer::failed;
    job.error = std::move(why);
    job.body.clear();
}

std::wstring wide(std::string_view text)
{
    return utf8_to_wide(text).value_or(std::wstring());
}

std::optional<std::string> header(HINTERNET request, DWORD info)
{
    DWORD size = 0;
    http().QueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::nullopt;
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (!http().QueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size, WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    text.resize(size / sizeof(wchar_t));
    return wide_to_utf8(text);
}

// A loopback address never goes through a proxy. Windows 8.1 and later take
// the user's proxy settings (automatic detection and script included) with
// WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY; Windows 7 and 8 refuse it, and there
// the user's Internet settings are applied to each request (legacy).
unique_internet open_session(const central_url& url, bool& legacy)
{
    if (url.scheme == central_scheme::loopback_http)
        return unique_internet(
            http().Open(L"Ostrilo", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (HINTERNET session = http().Open(L"Ostrilo", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0))
        return unique_internet(session);
    legacy = true;
    return unique_internet(
        http().Open(L"Ostrilo", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
}

void free_global(void* text)
{
    GlobalFree(text);
}
using unique_global_text = unique_any<wchar_t*, &free_global>;

// Windows 7 and 8: the proxy of the user's Internet settings for this URL, as
// the browser finds it: the automatic detection or script first, else the
// proxy server named there (with its bypass list).
void apply_user_proxy(HINTERNET session, HINTERNET request, const std::wstring& url)
{
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
    if (!http().GetIEProxyConfigForCurrentUser(&settings))
        return;
    const unique_global_text script(settings.lpszAutoConfigUrl), proxy(settings.lpszProxy),
        bypass(settings.lpszProxyBypass);
    if (settings.fAutoDetect || script) {
        WINHTTP_AUTOPROXY_OPTIONS options{};
        options.dwFlags =
            (settings.fAutoDetect ? WINHTTP_AUTOPROXY_AUTO_DETECT : 0) | (script ? WINHTTP_AUTOPROXY_CONFIG_URL : 0);
        options.dwAutoDetectFlags =
            settings.fAutoDetect ? WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A : 0;
        options.lpszAutoConfigUrl = script.get();
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO found{};
        if (http().GetProxyForUrl(session, url.c_str(), &options, &found)) {
            const unique_global_text found_proxy(found.lpszProxy), found_bypass(found.lpszProxyBypass);
            http().SetOption(request, WINHTTP_OPTION_PROXY, &found, sizeof found);
            return;
        }
    }
    if (proxy) {
        WINHTTP_PROXY_INFO named{WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.get(), bypass.get()};
        http().SetOption(request, WINHTTP_OPTION_PROXY, &named, sizeof named);
    }
}

// A server or proxy that asks for Windows' logon (Negotiate, NTLM) gets the
// user's, once, as the browser gives it on the intranet.
bool answer_challenge(HINTERNET request)
{
    DWORD schemes = 0, first = 0, target = 0;
    if (!http().QueryAuthSchemes(request, &schemes, &first, &target))
        return false;
    const DWORD scheme = schemes & WINHTTP_AUTH_SCHEME_NEGOTIATE ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                         : schemes & WINHTTP_AUTH_SCHEME_NTLM    ? WINHTTP_AUTH_SCHEME_NTLM
                                                                 : 0;
    DWORD low = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    return scheme != 0 && http().SetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &low, sizeof low) &&
           http().SetCredentials(request, target, scheme, nullptr, nullptr, nullptr);
}

// The body, at most the size a list may have, and whole as its Content-Length says.
void read_body(fetch_job& job, HINTERNET request)
{
    std::optional<std::uint64_t> length;
    if (const std::optional<std::string> text = header(request, WINHTTP_QUERY_CONTENT_LENGTH)) {
        std::uint64_t value = 0;
        const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
        if (error == std::errc() && end == text->data() + text->size())
            length = value;
    }
    if (length && *length > sitelist_max_bytes)
        return fail(job, "the list is larger than 32 MiB (" + std::to_string(*length) + " bytes)");
    std::vector<char> block(65536);
    for (DWORD got = 1; got > 0;) {
        if (!http().ReadData(request, block.data(), static_cast<DWORD>(block.size()), &got))
            return fail(job, error_text(GetLastError()) + " after " + std::to_string(job.body.size()) +
                                 (length ? " of " + std::to_string(*length) : "") + " bytes");
        if (job.body.size() + got > sitelist_max_bytes)
            return fail(job, "the list is larger than 32 MiB");
        job.body.append(block.data(), got);
    }
    if (length && job.body.size() != *length)
        return fail(job, "the answer ended after " + std::to_string(job.body.size()) + " of its " +
                             std::to_string(*length) + " bytes");
    job.kind = fetch_job::answer::list;
    job.new_etag = kept_validator(header(request, WINHTTP_QUERY_ETAG).value_or(""));
    job.new_last_modified = kept_validator(header(request, WINHTTP_QUERY_LAST_MODIFIED).value_or(""));
}

// One conditional GET; redirects are followed by hand, to https only (never
// to http, also not from a loopback http:// list). The certificate checks are
// WinHTTP's, which are Windows'.
void fetch_http(fetch_job& job)
{
    if (!http().ok)
        return fail(job, "winhttp.dll cannot be loaded");
    bool legacy = false;
    const unique_internet session = open_session(job.url, legacy);
    if (!session)
        return fail(job, error_text(GetLastError()));
    std::string current = job.url.url;
    std::wstring conditions;
    if (!job.etag.empty())
        conditions += L"If-None-Match: " + wide(job.etag) + L"\r\n";
    if (!job.last_modified.empty())
        conditions += L"If-Modified-Since: " + wide(job.last_modified) + L"\r\n";
    for (int redirects = 0;; ++redirects) {
        // Each step may take what is left of the bound (0 would be no bound at all).
        const int left = static_cast<int>(std::max(left_ms(job), 1ul));
        http().SetTimeouts(session.get(), left, left, left, left);
        std::wstring url = wide(current);
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!http().CrackUrl(url.c_str(), 0, 0, &parts))
            return fail(job, error_text(GetLastError()));
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength),
            path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                   std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        const unique_internet connection(http().Connect(session.get(), host.c_str(), parts.nPort, 0));
        const unique_internet request(
            connection ? http().OpenRequest(connection.get(), L"GET", path.empty() ? L"/" : path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
                       : nullptr);
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        if (!request || !http().SetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never))
            return fail(job, error_text(GetLastError()));
        if (legacy)
            apply_user_proxy(session.get(), request.get(), url);
        DWORD status = 0;
        for (bool answered = false;;) {
            DWORD size = sizeof status;
            if (!http().SendRequest(request.get(),
                                    conditions.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : conditions.c_str(),
                                    static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
                !http().ReceiveResponse(request.get(), nullptr) ||
                !http().QueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                     WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
                return fail(job, error_text(GetLastError()));
            if ((status != 401 && status != 407) || std::exchange(answered, true) || !answer_challenge(request.get()))
                break;
        }
        if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
            const std::string location = header(request.get(), WINHTTP_QUERY_LOCATION).value_or("");
            const std::optional<std::string> target = redirect_target(current, location);
            if (!target || !starts_with(ascii_lower(*target), "https://"))
                return fail(job, "HTTP " + std::to_string(status) + ": a redirect to " +
                                     quoted_text(target.value_or(location)) + " is refused: only https:// is followed");
            if (redirects == most_redirects)
                return fail(job, "more than " + std::to_string(most_redirects) + " redirects");
            current = *target;
            continue;
        }
        if (status == 304 && !conditions.empty()) {
            job.kind = fetch_job::answer::not_modified;
            return;
        }
        if (status != 200)
            return fail(job, "HTTP " + std::to_string(status) + " " +
                                 quoted_text(header(request.get(), WINHTTP_QUERY_STATUS_TEXT).value_or(""), 80));
        return read_body(job, request.get());
    }
}

// A file: URL, read whole as the whitelist_path file is with whitelist_copy;
// its last-write time and size are its validator, so an unchanged file is
// not read at all.
void fetch_file(fetch_job& job)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide(job.url.path).c_str(), GetFileExInfoStandard, &data))
        return fail(job, error_text(GetLastError()));
    const std::string validator =
        std::to_string(file_ticks(data.ftLastWriteTime)) + "-" +
        std::to_string((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    if (validator == job.last_modified) {
        job.kind = fetch_job::answer::not_modified;
        return;
    }
    job.file.path = job.url.path;
    job.file.limit = sitelist_max_bytes;
    read_source(job.file);
    if (job.file.error == ERROR_FILE_TOO_LARGE)
        return fail(job, "the list is larger than 32 MiB");
    if (const std::string failure = failure_text(job.file); !failure.empty())
        return fail(job, failure);
    job.kind = fetch_job::answer::list;
    job.body = std::move(job.file.bytes);
    job.new_last_modified = std::to_string(file_ticks(job.file.written)) + "-" + std::to_string(job.body.size());
}

DWORD WINAPI fetch_on_thread(void* job)
{
    fetch_job& fetch = *static_cast<fetch_job*>(job);
    if (fetch.url.scheme == central_scheme::file)
        fetch_file(fetch);
    else
        fetch_http(fetch);
    return 0;
}

// The fetch on a thread of its own, waited for at most its bound. A thread
// that does not end then is left: it holds nothing of the run's (the job is
// given up to it), and the process ends a moment later.
void run_fetch(std::unique_ptr<fetch_job>& job)
{
    const unique_handle thread(CreateThread(nullptr, 0, fetch_on_thread, job.get(), 0, nullptr));
    if (!thread)
        return fail(*job, error_text(GetLastError()));
    if (WaitForSingleObject(thread.get(), left_ms(*job)) != WAIT_TIMEOUT)
        return;
    job->file.abandoned = true;
    CancelSynchronousIo(thread.get());
    const unsigned long bound = job->bound;
    if (WaitForSingleObject(thread.get(), 50) == WAIT_TIMEOUT) {
        static_cast<void>(job.release());
        job = std::make_unique<fetch_job>();
    }
    fail(*job, "no answer within " + std::to_string(bound) + " ms");
}

enum class refresh_kind { first, due, now };

std::string local_path(const std::string& beside, std::string_view name)
{
    return beside.substr(0, beside.rfind('\\') + 1) + std::string(name);
}

unique_file_handle take_lock(const std::string& path)
{
    if (path.empty())
        return unique_file_handle();
    const std::wstring lock = wide(path);
    CreateDirectoryW(lock.substr(0, lock.rfind(L'\\')).c_str(), nullptr);
    return unique_file_handle(CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

struct refresh_result {
    bool ran = false, ok = false;
    std::string result;
};

// The refresh under the lock; kind first: the run has no usable cache and
// waits (at most bound) for this one or for another run's.
refresh_result refresh(run_context& run, const central_url& url, refresh_kind kind, unsigned long bound,
                       central_refresh_report* report = nullptr)
{
    const std::string lock_path = central_lock_path(), cache_path = local_path(lock_path, "central list.txt");
    const DWORD started = GetTickCount();
    unique_file_handle lock;
    while (!(lock = take_lock(lock_path))) {
        const DWORD error = lock_path.empty() ? ERROR_PATH_NOT_FOUND : GetLastError();
        const bool busy = error == ERROR_SHARING_VIOLATION;
        if (busy && kind != refresh_kind::first) {
            LOG_OSTRILO(LOG_DEBUG, "whitelist_url: another run refreshes the list");
            return {false, false, "a refresh is running now"};
        }
        const central_cache cache = read_central_cache(url, false);
        if (busy && !cache.unusable)
            return {false, true, "another run fetched it"};
        if (busy && GetTickCount() - started < bound) {
            Sleep(50);
            continue;
        }
        const std::string why = busy ? "another run is fetching it; none within " + std::to_string(bound) + " ms"
                                     : system_error_text(error);
        const std::string where = lock_path.empty() ? "%LOCALAPPDATA%\\Ostrilo" : lock_path;
        const std::string kept = cache.unusable ? "going on without it" : "the cache of " + cache.time + " is kept";
        const std::string answers =
            cache.unusable ? without_list : "Its cache of " + cache.time + " answers in its place.";
        if (busy) {
            LOG_OSTRILO(LOG_WARN, "whitelist_url: cannot fetch %s (%s); %s", url.url.c_str(), why.c_str(),
                        kept.c_str());
            write_event<event_kind::central_list_not_fetched>(url.url, why, answers);
        } else {
            LOG_OSTRILO(LOG_WARN, "whitelist_url: cannot keep the cache of %s in %s (%s); %s", url.url.c_str(),
                        where.c_str(), why.c_str(), kept.c_str());
            write_event<event_kind::central_cache_not_kept>(url.url, where, why, answers);
        }
        return {false, false, why};
    }
    std::string old_rules;
    const central_cache cache = read_central_cache(url, true, &old_rules);
    const bool usable = !cache.unusable;
    // Another run may have fetched the list while this one waited for the lock.
    if (usable && (kind == refresh_kind::first ||
                   (kind == refresh_kind::due &&
                    cache.age_seconds < static_cast<long long>(get_whitelist_refresh_minutes(run)) * 60)))
        return {false, true, "another run fetched it"};
    if (cache.damaged)
        LOG_OSTRILO(LOG_ERROR, "whitelist_url: the cache %s is %s; fetched anew", cache.path.c_str(),
                    cache.unusable->c_str());
    auto job = std::make_unique<fetch_job>();
    job->url = url;
    job->started = started, job->bound = bound;  // the time waited for the lock counts
    if (usable)
        job->etag = cache.etag, job->last_modified = cache.last_modified;
    run_fetch(job);

    refresh_result done{true, false, job->error};
    const std::string kept = usable ? "the cache of " + cache.time + " is kept" : "going on without it";
    const std::string answers = usable ? "Its cache of " + cache.time + " answers in its place." : without_list;
    central_conversion list;
    if (job->kind == fetch_job::answer::not_modified) {
        const unique_file_handle file(CreateFileW(wide(cache_path).c_str(), FILE_WRITE_ATTRIBUTES,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        const FILETIME now = whole_second_now();
        done.ok = file && SetFileTime(file.get(), nullptr, nullptr, &now);
        done.result = !done.ok                             ? error_text(GetLastError())
                      : url.scheme == central_scheme::file ? "unchanged"
                                                           : "304 not modified";
        if (done.ok)
            LOG_OSTRILO(LOG_DEBUG, "whitelist_url: %s not modified; the cache's time renewed", url.url.c_str());
    } else if (job->kind == fetch_job::answer::list && !(list = convert_central_list(job->body)).ok) {
        done.result = "refused: " + list.error;
        LOG_OSTRILO(LOG_WARN, "whitelist_url: the list from %s is refused (%s); %s", url.url.c_str(),
                    list.error.c_str(), kept.c_str());
        write_event<event_kind::central_list_refused>(url.url, list.error, answers);
    } else if (job->kind == fetch_job::answer::list) {
        job->body = {};
        const FILETIME now = whole_second_now();
        rule_copy_header header{url.url,     header_time(now), sha256_hex(list.body), list.body.size(),
                                list.format, job->new_etag,    job->new_last_modified};
        const DWORD error = header.sha256.empty()
                                ? ERROR_INVALID_DATA
                                : put_file_in_place(cache_path, rule_copy_header_text(header, store_form::central_list),
                                                    list.body, now, put_in_place_tries);
        done.ok = error == 0;
        done.result = !done.ok ? system_error_text(error)
                               : (url.scheme == central_scheme::file ? "" : "200, ") + std::to_string(list.rules) +
                                     " rules (" + list.format + ")";
        if (done.ok)
            LOG_OSTRILO(LOG_DEBUG, "whitelist_url: %s fetched: %s in %s", url.url.c_str(), done.result.c_str(),
                        cache_path.c_str());
        if (!done.ok) {
            LOG_OSTRILO(LOG_WARN, "whitelist_url: cannot keep the cache of %s in %s (%s); %s", url.url.c_str(),
                        cache_path.c_str(), done.result.c_str(), kept.c_str());
            write_event<event_kind::central_cache_not_kept>(url.url, cache_path, done.result, answers);
        }
    } else {
        LOG_OSTRILO(LOG_WARN, "whitelist_url: cannot fetch %s (%s); %s", url.url.c_str(), job->error.c_str(),
                    kept.c_str());
        write_event<event_kind::central_list_not_fetched>(url.url, job->error, answers);
    }
    const std::string state = central_attempt_text({url.url, done.result, done.ok});
    put_file_in_place(local_path(lock_path, "central list.state"), state, "", whole_second_now());
    if (report) {
        report->old_rules = std::move(old_rules);
        if (done.ok && job->kind == fetch_job::answer::list)
            report->new_rules = std::move(list.body);
        else
            report->new_rules = report->old_rules;
    }
    return done;
}

}  // namespace

void prepare_central_list(run_context& run)
{
    const std::optional<std::string> value = get_whitelist_url(run);
    if (!value)
        return;
    const central_url_reading reading = read_central_url(*value);
    if (!reading.url) {
        LOG_OSTRILO(LOG_ERROR, "whitelist_url: %s is refused (%s); going on without it", quoted_text(*value).c_str(),
                    reading.refusal.c_str());
        write_event<event_kind::central_url_refused>(quoted_text(*value), reading.refusal);
        return;
    }
    const central_cache cache = read_central_cache(*reading.url, false);
    if (!cache.unusable) {
        run.central_list.current = cache.age_seconds < static_cast<long long>(get_whitelist_refresh_minutes(run)) * 60;
        return;
    }
    const unsigned long timeout = get_whitelist_timeout_ms(run);
    run.central_list.fetched = true;
    refresh(run, *reading.url, refresh_kind::first, timeout != 0 ? timeout : first_fetch_default_ms);
}

void refresh_central_list(run_context& run)
{
    const std::optional<central_url> url = central_url_in_force(run);
    if (!url || run.central_list.fetched || run.central_list.current)
        return;
    const central_cache cache = read_central_cache(*url, false);
    if (!cache.unusable && cache.age_seconds < static_cast<long long>(get_whitelist_refresh_minutes(run)) * 60)
        return;
    if (const auto last = last_central_attempt(url->url);
        last && !last->first.ok && last->second < retry_after_failure_seconds && !cache.unusable)
        return;
    // The browser or viewer just started gets the processor and the disk
    // first: the refresh waits a moment, then runs at background priority
    // (which Wine does not give: there the moment alone keeps the browser's
    // start as fast as without a refresh, on two busy cores).
    Sleep(start_pause_ms);
    SetPriorityClass(GetCurrentProcess(), PROCESS_MODE_BACKGROUND_BEGIN);
    refresh(run, *url, refresh_kind::due, refresh_bound_ms);
}

central_refresh_report refresh_central_list_now(run_context& run)
{
    central_refresh_report report;
    if (const std::optional<central_url> url = central_url_in_force(run)) {
        const refresh_result done = refresh(run, *url, refresh_kind::now, refresh_bound_ms, &report);
        report.ran = done.ran, report.ok = done.ok, report.result = done.result;
    }
    return report;
}
