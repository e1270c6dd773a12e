// The dispatch of one URL on its matching rule: which destination is called
// with what, and the record that says so. The two destinations are replaced by
// recorders here, so that every browser mode can be checked (under Wine, the
// shell answers a request for Internet Explorer with Wine's own program).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "nb_utils.h"
#include "ostrilo.h"
#include "run_context.h"

namespace {

using calls = std::vector<std::pair<std::wstring, int>>;
using texts = std::vector<std::wstring>;
calls local_calls;
texts viewer_calls;

}  // namespace

void open_url_locally(run_context&, const std::wstring& url, int mode)
{
    local_calls.push_back({url, mode});
}

void open_url_in_kvix(run_context&, const std::wstring& text)
{
    viewer_calls.push_back(text);
}

namespace {

const std::wstring url = L"https://rules.test/page";
const std::wstring non_ascii_url = L"https://rules.test/\u00fc";
const std::wstring long_url = L"https://rules.test/" + std::wstring(5000, L'a');
const std::string default_browser = "DEBUG No browser specified in URL whitelist. Opening URL locally using IE";
const std::string aborting =
    "ERROR Error: couldn't figure out if the URL should be opened locally or remotely... Aborting.";

struct dispatch_case {
    const char* rule;
    std::wstring url;
    int status;
    std::optional<int> mode;             // the local browser mode, or no local call
    std::optional<std::wstring> viewer;  // the text handed to the viewer, or no hand-off
    std::string record;                  // the dispatch's record, "LEVEL message"
};

const dispatch_case dispatch_cases[] = {
    // Local rules: the browser name picks the mode; the wide URL is passed on as it is.
    {"rules.test/*", url, 0, 0, {}, default_browser},
    {"rules.test/*|local|", non_ascii_url, 0, 0, {}, default_browser},
    {"rules.test/*|local|firefox", url, 0, 2, {}, "DEBUG Opening URL locally using Firefox"},
    {"rules.test/*|local|chrome", url, 0, 3, {}, "DEBUG Opening URL locally using Chrome"},
    {"rules.test/*|local|edge", url, 0, 4, {}, "DEBUG Opening URL locally using Edge"},
    {"rules.test/*|LOCAL|IE", url, 0, 5, {}, "DEBUG Opening URL locally using IE"},
    {"rules.test/*|local|opera", url, 0, 0, {},
     "WARN Unknown browser 'opera' in URL whitelist. Opening URL locally using the default browser"},
    // Remote rules: profile, browser and URL joined by "|", converted as UTF-8
    // and cut at 4093 bytes; the record shows the whole text.
    {"rules.test/*|remote", url, 0, {}, L"||" + url, "DEBUG Opening URL in kvix: ||https://rules.test/page"},
    {"rules.test/*|remote", non_ascii_url, 0, {}, L"||" + non_ascii_url,
     "DEBUG Opening URL in kvix: ||https://rules.test/\xc3\xbc"},
    {"rules.test/*|remote|b|p", long_url, 0, {}, (L"p|b|" + long_url).substr(0, 4093),
     "DEBUG Opening URL in kvix: p|b|https://rules.test/" + std::string(5000, 'a')},
    // No match: the URL itself goes to the viewer.
    {"other.test|local", url, 0, {}, url, "INFO Opening URL in kvix (didn't find any match in url list)"},
    // Neither "local" nor "remote": nothing is opened.
    {"rules.test/*||firefox", url, 1, {}, {}, aborting},
    {"rules.test/*|remote |chrome", url, 1, {}, {}, aborting},
    {"rules.test/*|elsewhere", url, 1, {}, {}, aborting},
};

// The records of the unit "ostrilo" on standard error, as "LEVEL message".
std::vector<std::string> ostrilo_records(const std::string& err)
{
    std::vector<std::string> records;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        std::size_t unit = line.find(" ostrilo:");
        if (unit == std::string::npos || unit < 9)
            continue;
        if (line.back() == '\r')
            line.pop_back();
        records.push_back(line.substr(9, line.find(' ', 9) - 9) + " " + line.substr(line.find(": ", unit) + 2));
    }
    return records;
}

TEST(RouteUrl, CallsTheDestinationTheMatchingRuleNamesAndLogsIt)
{
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "ostrilo_dispatch_test";
    std::filesystem::create_directories(folder);
    run_context run;
    run.configdir = folder.string();
    for (const dispatch_case& c : dispatch_cases) {
        FILE* rules = std::fopen((folder / "url whitelist.txt").string().c_str(), "wb");
        std::fprintf(rules, "%s\n", c.rule);
        std::fclose(rules);
        local_calls.clear();
        viewer_calls.clear();

        testing::internal::CaptureStderr();
        EXPECT_EQ(route_url(run, c.url, *wide_to_utf8(c.url)), c.status) << c.rule;
        std::vector<std::string> records = ostrilo_records(testing::internal::GetCapturedStderr());
        auto record = std::find(records.begin(), records.end(), c.record);
        ASSERT_NE(record, records.end()) << c.rule;
        if (c.mode)
            EXPECT_EQ(*std::prev(record), "INFO Opening URL locally.") << c.rule;
        EXPECT_EQ(local_calls, (c.mode ? calls{{c.url, *c.mode}} : calls{})) << c.rule;
        EXPECT_EQ(viewer_calls, (c.viewer ? texts{*c.viewer} : texts{})) << c.rule;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
