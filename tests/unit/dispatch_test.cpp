// The dispatch of one URL on its matching rule: which destination is called
// with what. The two destinations are replaced by recorders here, so that
// every browser mode can be checked (under Wine, the shell answers a request
// for Internet Explorer with Wine's own program).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ostrilo.h"

namespace {

struct local_call {
    std::wstring url;
    int mode;
    bool operator==(const local_call&) const = default;
};

std::vector<local_call> local_calls;
std::vector<std::wstring> viewer_calls;

}  // namespace

void open_url_locally(const std::wstring& url, int mode)
{
    local_calls.push_back({url, mode});
}

void open_url_in_kvix(const std::wstring& text)
{
    viewer_calls.push_back(text);
}

namespace {

const std::string url = "https://rules.test/page";
const std::wstring wide_url = L"https://rules.test/page";
const std::string long_url = "https://rules.test/" + std::string(5000, 'a');

struct dispatch_case {
    const char* rule;
    std::string narrow;
    std::wstring wide;
    int status;
    std::optional<local_call> local;
    std::optional<std::wstring> viewer;
};

const dispatch_case dispatch_cases[] = {
    // Local rules: the browser name picks the mode; the wide URL is passed on.
    {"rules.test/*", url, wide_url, 0, local_call{wide_url, 0}, std::nullopt},
    {"rules.test/*|local", url, wide_url, 0, local_call{wide_url, 0}, std::nullopt},
    {"rules.test/*|local|", url, wide_url, 0, local_call{wide_url, 0}, std::nullopt},
    {"rules.test/*|local|firefox", url, wide_url, 0, local_call{wide_url, 2}, std::nullopt},
    {"rules.test/*|local|chrome", url, wide_url, 0, local_call{wide_url, 3}, std::nullopt},
    {"rules.test/*|local|edge", url, wide_url, 0, local_call{wide_url, 4}, std::nullopt},
    {"rules.test/*|LOCAL|IE", url, wide_url, 0, local_call{wide_url, 5}, std::nullopt},
    {"rules.test/*|local|opera", url, wide_url, 0, local_call{wide_url, 0}, std::nullopt},
    {"rules.test/*|local|firefox |", url, wide_url, 0, local_call{wide_url, 0}, std::nullopt},
    {"rules.test/*", "https://rules.test/\xc3\xbc", L"https://rules.test/\u00fc", 0,
     local_call{L"https://rules.test/\u00fc", 0}, std::nullopt},
    // Remote rules: profile, browser and URL joined by "|", widened byte by byte.
    {"rules.test/*|remote", url, wide_url, 0, std::nullopt, L"||https://rules.test/page"},
    {"rules.test/*|remote|chrome", url, wide_url, 0, std::nullopt, L"|chrome|https://rules.test/page"},
    {"rules.test/*|remote|chrome|work", url, wide_url, 0, std::nullopt, L"work|chrome|https://rules.test/page"},
    {"rules.test/*|remote||work", url, wide_url, 0, std::nullopt, L"work||https://rules.test/page"},
    {"rules.test/*|remote", "https://rules.test/\xc3\xbc", L"https://rules.test/\u00fc", 0, std::nullopt,
     L"||https://rules.test/\u00c3\u00bc"},
    {"rules.test/*|remote|b|p", long_url, std::wstring(long_url.begin(), long_url.end()), 0, std::nullopt,
     std::wstring(L"p|b|") + std::wstring(long_url.begin(), long_url.begin() + 4089)},
    // No match: the URL itself goes to the viewer.
    {"other.test|local", url, wide_url, 0, std::nullopt, wide_url},
    // Neither "local" nor "remote": nothing is opened.
    {"rules.test/*||firefox", url, wide_url, 1, std::nullopt, std::nullopt},
    {"rules.test/*|remote |chrome", url, wide_url, 1, std::nullopt, std::nullopt},
    {"rules.test/*|elsewhere", url, wide_url, 1, std::nullopt, std::nullopt},
};

TEST(RouteUrl, CallsTheDestinationTheMatchingRuleNames)
{
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "ostrilo_dispatch_test";
    std::filesystem::create_directories(folder);
    configdir = folder.string();
    for (const dispatch_case& c : dispatch_cases) {
        FILE* rules = std::fopen((folder / "url whitelist.txt").string().c_str(), "wb");
        std::fprintf(rules, "%s\n", c.rule);
        std::fclose(rules);
        local_calls.clear();
        viewer_calls.clear();

        EXPECT_EQ(route_url(c.wide, c.narrow), c.status) << c.rule;
        EXPECT_EQ(local_calls, c.local ? std::vector<local_call>{*c.local} : std::vector<local_call>{}) << c.rule;
        EXPECT_EQ(viewer_calls, c.viewer ? std::vector<std::wstring>{*c.viewer} : std::vector<std::wstring>{})
            << c.rule;
    }
    configdir.reset();
    std::filesystem::remove_all(folder);
}

}  // namespace
