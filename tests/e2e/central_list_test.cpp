// whitelist_url end to end: the real Ostrilo.exe fetches its central list from a loopback server (list_server.py,
// started and ended here) or a file: URL, decides every link by its cache, and refreshes the cache after the
// hand-off. Each row: where the link went, the records, and the cache afterwards.
#include "local_store.h"
#include "nb_utils.h"
#include "sandbox.h"
#include "url_rules.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace {

const std::string link = "https://app.contoso.example/x", firefox_list = "app.contoso.example/*|local|firefox\r\n",
                  ie_list =
                      "<site-list version=\"3\"><site url=\"app.contoso.example\"><open-in>IE11</open-in>"
                      "</site></site-list>";

// The server, from the first row to the end of the program; its folder is the Unix /tmp/<name>, Z:\tmp\<name> here.
struct list_server {
    std::wstring name = L"ostrilo-list-" + std::to_wstring(GetCurrentProcessId()), folder = L"Z:\\tmp\\" + name;
    std::string port;
    list_server()
    {
        remove_tree(folder);
        CreateDirectoryW(folder.c_str(), nullptr);
        std::wstring line =
            L"/usr/bin/python3 " + widen(OSTRILO_SOURCE_DIR "/tests/e2e/list_server.py") + L" /tmp/" + name;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        EXPECT_TRUE(
            CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
        port = wait_for_file(folder + L"\\port.txt");
    }
    ~list_server() { write_file(folder + L"\\quit", ""); }
    std::string url(const std::string& file) const { return "http://127.0.0.1:" + port + "/" + file; }
    void serve(const std::string& file, const std::string& content) const
    {
        write_file(folder + L"\\" + widen(file), content);
    }
    // The requests since the last call, one line each: "<path> <If-None-Match>".
    std::string requests() const
    {
        const std::string all = read_file(folder + L"\\requests.txt").value_or("");
        DeleteFileW((folder + L"\\requests.txt").c_str());
        return all;
    }
};

const list_server& server()
{
    static const list_server running;
    return running;
}

std::wstring cache_of(const sandbox& box)
{
    return box.localappdata + L"\\Ostrilo\\central list.txt";
}

// "cache: <its first rule>, current|stale" when it passes its check (current: found current within the minute).
std::string cache_line(const sandbox& box)
{
    const std::optional<std::string> text = read_file(cache_of(box));
    if (!text)
        return "\ncache: none";
    const parsed_rule_copy cache = parse_rule_copy(*text, true, store_form::central_list);
    if (cache.damage || sha256_hex(text->substr(cache.body_offset)) != cache.header.sha256)
        return "\ncache: damaged";
    std::string first;
    for (std::size_t at = cache.body_offset; first.empty() || first[0] == '#'; at = text->find('\n', at) + 1)
        first = trim(text->substr(at, text->find('\n', at) - at));
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(cache_of(box).c_str(), GetFileExInfoStandard, &data);
    const bool current = file_ticks(whole_second_now()) < file_ticks(data.ftLastWriteTime) + 60 * second_ticks;
    return "\ncache: " + first + (current ? ", current" : ", stale");
}

// The cache's last-write time an hour back, a whole second as Ostrilo stamps it.
void age_cache(const sandbox& box)
{
    const std::uint64_t hour_ago = file_ticks(whole_second_now()) - 3600 * second_ticks;
    const FILETIME time{static_cast<DWORD>(hour_ago), static_cast<DWORD>(hour_ago >> 32)};
    const unique_file_handle file(
        CreateFileW(cache_of(box).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &time));
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0, end = 0; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at - (end > at && text[end - 1] == '\r')));
    }
    return lines;
}

std::string replaced(std::string text, const std::map<std::string, std::string>& values)
{
    for (const auto& [name, value] : values)
        for (std::size_t at; (at = text.find(name)) != std::string::npos;)
            text.replace(at, name.size(), value);
    return text;
}

struct central_row {
    std::string served;  // what the URL answers ("#!..." a directive of list_server.py)
    // The cache the run finds, made by a run of firefox_list: "" none, "current", "stale" (an hour old), "edited"
    // (a byte changed by another program), "offline" (of %U, which nothing answers; stale).
    std::string cache;
    std::string config;  // ostrilo.cfg; %U stands for the URL
    std::string link;
    // The outcome of each run (a line "--" between runs), the requests the server got and the cache afterwards.
    std::string expected;
};

// %R the sandbox, %U the list's URL, %F a file: URL of the file it serves, %C the cache, %T the time in the cache's
// header before the run.
void check(const std::vector<central_row>& rows)
{
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const central_row& row = rows[i];
        sandbox box;
        for (const char* name : {"firefox", "chrome", "viewer"})
            box.standin(box.standin_path(name), name == std::string("viewer") ? L"vncviewer_2_1_4" : L"standin");
        const std::string file = "list" + std::to_string(i) + ".txt", dead = "http://127.0.0.1:1/" + file;
        std::map<std::string, std::string> values = {{"%R", narrow(box.root)},
                                                     {"%C", narrow(cache_of(box))},
                                                     {"%U", row.cache == "offline" ? dead : server().url(file)},
                                                     {"%F", "file:///Z:/tmp/" + narrow(server().name) + "/" + file}};
        // Where the list does not decide, the rule file beside the program sends the link to Chrome.
        box.put(L"url whitelist.txt", "app.contoso.example/*|local|chrome\r\n");
        // With the events of event_log=1 (each row's outcome ends in them).
        box.env[L"WINEDEBUG"] = event_debug;
        const std::string config = replaced(row.config + "event_log=1\nwhitelist_url=%U\n", values);
        box.put(L"ostrilo.cfg", row.cache.empty() ? config : "whitelist_url=" + server().url(file) + "\n");
        server().serve(file, firefox_list);
        if (!row.cache.empty()) {
            box.run(L"-url \"https://made.example/\"");
            std::string text = read_file(cache_of(box)).value_or("");
            if (row.cache == "offline")
                write_file(cache_of(box), text.replace(text.find("source: ") + 8, server().url(file).size(), dead));
            if (row.cache == "edited")
                write_file(cache_of(box), text.replace(text.find("|local|firefox"), 3, "|LO"));
            if (row.cache == "stale" || row.cache == "offline")
                age_cache(box);
            DeleteFileW((box.standin_path("viewer") + L".calls.txt").c_str());
            box.put(L"ostrilo.cfg", config);
        }
        server().serve(file, replaced(row.served, values));
        server().requests();
        const std::optional<std::string> before = read_file(cache_of(box));
        values["%T"] = before ? parse_rule_copy(*before, false, store_form::central_list).header.time : "";
        const std::string expected = replaced(row.expected, values);
        // Each run's part of the outcome ends at a line "--".
        std::string outcome, records;
        for (std::size_t part = 0, end; part < expected.size(); part = end + 4) {
            end = std::min(expected.find("\n--\n", part), expected.find("\nrequests: ", part));
            const run_result result = box.run(L"-url \"" + widen(row.link) + L"\"");
            records += result.err;
            outcome += (part ? "\n--\n" : "") + box.outcome(result, expected.substr(part, end - part));
            if (expected.compare(end, 4, "\n--\n") != 0)
                break;
            for (const char* name : {"firefox", "chrome", "viewer"})
                DeleteFileW((box.standin_path(name) + L".calls.txt").c_str());
        }
        // Each request as "GET", conditional or not.
        std::string requests;
        for (const std::string& line : lines_of(server().requests()))
            requests += (requests.empty() ? "" : ", ") + std::string(line.ends_with(" -") ? "GET" : "GET if changed");
        EXPECT_EQ(outcome + "\nrequests: " + requests + cache_line(box), expected) << config << records;
    }
}

TEST(CentralList, EachServedListAndFaultEndsAsDocumentedAndLeavesTheCacheWhole)
{
    const std::string by_firefox = "exit 0\nfirefox: " + link, by_chrome = "exit 0\nchrome: " + link;
    const std::string fetched = "\nDEBUG whitelist_url: %U fetched: 200, 1 rules (rules) in %C";
    const std::string cached = "\ncache: app.contoso.example/*|local|firefox, ", again = "\nrequests: GET if changed";
    const std::string evil = "https://evil.example/?.app.contoso.example/",
                      offline = "system error 12029: No connection with the server could be made.",
                      no_http = "http:// only to a loopback address (127.0.0.0/8, [::1]); use https://";
    // The WARN record of a failed fetch (or a refused list) with its event, the cache kept (or none to keep).
    const auto fails = [](const std::string& why, bool refused = false, bool cache = true) {
        return (refused ? "\nWARN whitelist_url: the list from %U is refused ("
                        : "\nWARN whitelist_url: cannot fetch %U (") +
               why + (cache ? "); the cache of %T is kept" : "); going on without it") + "\nevent warning " +
               (refused ? "221" : "220") + ": %U | " + why + " | " +
               (cache ? "Its cache of %T answers in its place." : "Links go without the list until it is fetched.");
    };
    // clang-format off
    check({
        // A rule list and a site list fetched by the first link, which they decide (the conversion's cases:
        // native_sitelist_test); a 304 renews the cache's time; a changed list replaces the cache after the
        // hand-off, so this link goes by the old one.
        {firefox_list, "", "", link, by_firefox + fetched + "\nrequests: GET" + cached + "current"},
        {"<site-list version=\"2\"><site url=\"app.contoso.example\"><open-in>None</open-in></site></site-list>", "",
         "", link, "exit 0\nviewer: -initialURL \"||" + link + "\"\nDEBUG whitelist_url: %U fetched: 200, 2 rules (site "
         "list) in %C\nrequests: GET\ncache: app.contoso.example/*|remote, current"},
        {firefox_list, "stale", "", link, by_firefox + "\nDEBUG whitelist_url: %U not modified; the cache's time "
         "renewed" + again + cached + "current"},
        {firefox_list, "current", "", link, by_firefox + "\nrequests: " + cached + "current"},
        {"app.contoso.example/*|local|chrome\r\n", "stale", "", link, by_firefox + fetched + again +
         "\ncache: app.contoso.example/*|local|chrome, current"},
        {firefox_list, "", "whitelist_url=%F\n", link, by_firefox + "\nDEBUG whitelist_url: %F fetched: 1 rules (rules) "
         "in %C\nrequests: " + cached + "current"},
        // Its rules are matched by host, whatever strict_host_match says: a path naming the host is no host.
        {"*.contoso.example/*|local|firefox\r\n", "", "", evil, "exit 0\nviewer: -initialURL \"" + evil + "\"\n"
         "requests: GET\ncache: *.contoso.example/*|local|firefox, current"},
        // With whitelist_path too, the list comes first, then the file.
        {"other.example/*|local|firefox\r\n", "", "whitelist_path=%R\\program\\url whitelist.txt\n", link, by_chrome +
         "\nDEBUG * Check URL '" + link + "' in whitelist '%C'\nDEBUG * Check URL '" + link + "' in whitelist "
         "'%R\\program\\url whitelist.txt'\nrequests: GET\ncache: other.example/*|local|firefox, current"},
        // Faults keep the cache, with one WARN record and its event.
        {"#!status 500", "stale", "", link, by_firefox + fails("HTTP 500 Internal Server Error") + again + cached + "stale"},
        {"#!short\n" + firefox_list, "stale", "", link, by_firefox + fails("the answer ended after 45 of its 90 bytes") +
         again + cached + "stale"},
        {"#!huge", "stale", "", link, by_firefox + fails("the list is larger than 32 MiB") + again + cached + "stale"},
        {"#!huge-length", "stale", "", link, by_firefox + fails("the list is larger than 32 MiB (33554433 bytes)") + again +
         cached + "stale"},
        {"#!redirect %U", "stale", "", link, by_firefox + fails("HTTP 302: a redirect to %U is refused: only https:// is "
         "followed") + again + cached + "stale"},
        {"<html><body>\n*\n</body></html>", "stale", "", link, by_firefox + fails("the list is XML or HTML, but not a "
         "site list: its root element is 'html'", true) + again + cached + "stale"},
        {"<site-list><site url=\"g.example?a=1&b=2\"/></site-list>", "", "", link, by_chrome + fails("not well-formed "
         "XML: '&b=2' is no reference XML defines (write '&' as '&amp;') at byte 35", true, false) + "\nrequests: GET"
         "\ncache: none"},
        // No answer: the first link waits at most whitelist_timeout_ms, then goes without the list.
        {"#!silent", "", "whitelist_timeout_ms=300\n", link, by_chrome + fails("no answer within 300 ms", false, false) +
         "\nrequests: GET\ncache: none"},
        // Offline with a cache: links go by it; one WARN, and the next link within five minutes tries no refresh.
        {"", "offline", "", link, by_firefox + fails(offline) + "\n--\n" + by_firefox + "\n!WARN whitelist_url: cannot "
         "fetch %U (" + offline + "); the cache of %T is kept\nrequests: " + cached + "stale"},
        // A cache changed by another program is fetched anew before the link.
        {firefox_list, "edited", "", link, by_firefox + "\nERROR whitelist_url: the cache %C is damaged (checksum does "
         "not match); fetched anew" + fetched + "\nrequests: GET" + cached + "current"},
        // A whitelist_url Ostrilo does not take: one ERROR record and its event, and the run goes on without it.
        {firefox_list, "", "whitelist_url=http://example.com/list.txt\n", link, by_chrome + "\nERROR whitelist_url: "
         "http://example.com/list.txt is refused (" + no_http + "); going on without it\nevent warning 223: "
         "http://example.com/list.txt | " + no_http + "\nrequests: \ncache: none"},
    });
    // clang-format on
}

// ostrilo-admin: status names the URL, the cache and the last refresh; --refresh fetches the list and says what
// changed; explain names the URL, the cache's line and the <site> it came from.
TEST(CentralList, StatusAndExplainNameTheListItsCacheAndTheSiteOfTheRule)
{
    sandbox box;
    box.standin(box.program_dir + L"\\ostrilo-admin.exe", L"ostrilo-admin");
    const std::string url = server().url("admin.xml"), cache = narrow(cache_of(box));
    server().serve("admin.xml", ie_list);
    box.put(L"ostrilo.cfg", "whitelist_url=" + url + "\n");
    const auto admin = [&](const std::wstring& arguments) {
        const std::string out =
            box.run_command_line(L"\"" + box.program_dir + L"\\ostrilo-admin.exe\" " + arguments).out;
        std::string lines;
        for (const std::string& line : lines_of(out))
            if (line.find("whitelist_url") != std::string::npos || line.starts_with("  "))
                lines += line.substr(0, line.find(", fetched")) + "\n";
        return lines;
    };
    const std::string cfg = " (" + narrow(box.program_dir) + "\\\\ostrilo.cfg:1)\n", key = "ok    key whitelist_url: ";
    // clang-format off
    EXPECT_EQ(admin(L"status"), "FIX   whitelist_url: " + url + ": no usable cache at " + cache + " (there is none): "
              "the next link waits up to 5000 ms for the list, else goes without it -- run ostrilo-admin status "
              "--refresh; the line below says why the last fetch failed\nok    whitelist_url refresh: none recorded "
              "for this URL yet\n" + key + url + cfg);
    EXPECT_EQ(admin(L"status --refresh"), "ok    whitelist_url refreshed: 200, 2 rules (site list); 2 rule lines "
              "added, 0 removed, +*.app.contoso.example/*|local|ie, +app.contoso.example/*|local|ie\nok    "
              "whitelist_url: " + url + " (site list): 2 rules in " + cache + "\nok    whitelist_url refresh: the "
              "last one, 0 minutes ago: 200, 2 rules (site list)\n" + key + url + cfg);
    server().serve("admin.xml", "<site-list><site url=\"app.contoso.example\"/></site-list>");
    EXPECT_EQ(admin(L"status --refresh").substr(0, 160), "ok    whitelist_url refreshed: 200, 2 rules (site list); "
              "2 rule lines added, 2 removed, +*.app.contoso.example/*|remote, +app.contoso.example/*|remote, -*.app.c");
    EXPECT_EQ(admin(L"explain https://www.app.contoso.example/"), "  found    whitelist_url: " + cache + "\n  "
              "central  \"" + url + "\" (site list\n  key      whitelist_url=" + url + cfg + "  matched  " + cache +
              ":8: *.app.contoso.example/*|remote\n  site     the <site> at byte 11 of the list\n  action   hand to "
              "the viewer: \"||https://www.app.contoso.example/\"\n  pipe     \"||https://www.app.contoso.example/"
              "\\u0000\"\n");
    // clang-format on
}

// Twenty links at once with a stale cache: each goes by a whole list, the old one or the new one, and one run
// refreshes it (the server sees one request).
TEST(CentralList, TwentyRunsAtOnceWithAStaleCacheMakeOneRefresh)
{
    sandbox box;
    for (const char* name : {"firefox", "chrome"})
        box.standin(box.standin_path(name));
    std::string padding;
    for (int line = 0; line < 20000; ++line)
        padding += "# padding line " + std::to_string(line) + "\r\n";
    box.put(L"ostrilo.cfg", "whitelist_url=" + server().url("twenty.txt") + "\n");
    server().serve("twenty.txt", padding + firefox_list);
    box.run(L"-url \"https://made.example/\"");
    age_cache(box);
    server().serve("twenty.txt", padding + "app.contoso.example/*|local|chrome\r\n");
    server().requests();
    for (const auto& [name, value] : box.env)
        SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    std::vector<run_result> results(20);
    std::vector<std::thread> runs;
    for (run_result& result : results)
        runs.emplace_back([&] { result = box.run(L"-url \"" + widen(link) + L"\""); });
    for (std::thread& run : runs)
        run.join();
    for (const run_result& result : results)
        EXPECT_TRUE(result.exit_code == 0 && result.boxes.empty() &&
                    (result.has("TRACE  --> browser: <firefox>") || result.has("TRACE  --> browser: <chrome>")))
            << result.err;
    EXPECT_EQ(lines_of(server().requests()).size(), 1u);
    EXPECT_EQ(cache_line(box), "\ncache: app.contoso.example/*|local|chrome, current");
}

}  // namespace
