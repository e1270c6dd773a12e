// The dispatch of one URL on its matching rule: which destination is called
// with what, and the record that says so. The two destinations are replaced by
// recorders here, so that every browser mode can be checked.
#include "nb_utils.h"
#include "ostrilo.h"
#include "run_context.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::vector<std::wstring> calls;  // "local <mode> <url>" or "viewer <text>"

}  // namespace

void open_url_locally(run_context&, const std::wstring& url, int mode)
{
    calls.push_back(L"local " + std::to_wstring(mode) + L" " + url);
}
void open_url_in_kvix(run_context&, const std::wstring& text)
{
    calls.push_back(L"viewer " + text);
}

namespace {

TEST(RouteUrl, CallsTheDestinationTheMatchingRuleNamesAndLogsIt)
{
    const std::wstring url = L"https://rules.test/page", long_url = url + std::wstring(5000, L'a');
    const std::string
        local = "INFO Opening URL locally.\n",
        aborting = "ERROR Error: couldn't figure out if the URL should be opened locally or remotely... Aborting.\n";
    const std::string default_browser =
        local + "DEBUG No browser specified in URL whitelist. Opening URL locally using IE\n";
    // Rule, URL, status, the call, the dispatch's records ("LEVEL message").
    const std::tuple<const char*, std::wstring, int, std::wstring, std::string> cases[] = {
        {"rules.test/*", url, 0, L"local 0 " + url, default_browser},
        {"rules.test/*|local|", L"https://rules.test/\u00fc", 0, L"local 0 https://rules.test/\u00fc", default_browser},
        {"rules.test/*|local|firefox", url, 0, L"local 2 " + url, local + "DEBUG Opening URL locally using Firefox\n"},
        {"rules.test/*|local|chrome", url, 0, L"local 3 " + url, local + "DEBUG Opening URL locally using Chrome\n"},
        {"rules.test/*|local|edge", url, 0, L"local 4 " + url, local + "DEBUG Opening URL locally using Edge\n"},
        {"rules.test/*|LOCAL|IE", url, 0, L"local 5 " + url, local + "DEBUG Opening URL locally using IE\n"},
        {"rules.test/*|local|opera", url, 0, L"local 0 " + url,
         local + "WARN Unknown browser 'opera' in URL whitelist. Opening URL locally using the default browser\n"},
        // Profile, browser and URL joined by "|", converted as UTF-8 and
        // cut at 4093 bytes; the record shows the whole text.
        {"rules.test/*|remote", url, 0, L"viewer ||" + url, "DEBUG Opening URL in kvix: ||https://rules.test/page\n"},
        {"rules.test/*|remote", L"https://rules.test/\u00fc", 0, L"viewer ||https://rules.test/\u00fc",
         "DEBUG Opening URL in kvix: ||https://rules.test/\xc3\xbc\n"},
        {"rules.test/*|remote|b|p", long_url, 0, L"viewer " + (L"p|b|" + long_url).substr(0, 4093),
         "DEBUG Opening URL in kvix: p|b|https://rules.test/page" + std::string(5000, 'a') + "\n"},
        {"other.test|local", url, 0, L"viewer " + url,
         "INFO Opening URL in kvix (didn't find any match in url list)\n"},
        // Neither "local" nor "remote": nothing is opened.
        {"rules.test/*||firefox", url, 1, L"", aborting},
        {"rules.test/*|remote |chrome", url, 1, L"", aborting},
        {"rules.test/*|elsewhere", url, 1, L"", aborting},
    };
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "ostrilo_dispatch_test";
    std::filesystem::create_directories(folder);
    run_context run;
    run.configdir = folder.string();
    for (const auto& [rule, target, status, call, records] : cases) {
        std::ofstream(folder / "url whitelist.txt") << rule << "\n";
        calls.clear();
        testing::internal::CaptureStderr();
        EXPECT_EQ(route_url(run, target, *wide_to_utf8(target)), status) << rule;
        const std::string err = testing::internal::GetCapturedStderr();
        std::string logged;  // the records of the dispatch itself
        for (std::size_t start = 0, end; (end = err.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string line = err.substr(start + 9, end - start - 9 - (err[end - 1] == '\r'));
            if (line.find(" ostrilo:") != std::string::npos)
                logged += line.substr(0, line.find(' ')) + line.substr(line.find(": ") + 1) + "\n";
        }
        EXPECT_NE(logged.find(records), std::string::npos) << rule << "\n" << logged;
        EXPECT_EQ(calls, call.empty() ? std::vector<std::wstring>{} : std::vector{call}) << rule;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
