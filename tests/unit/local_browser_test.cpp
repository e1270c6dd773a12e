// The texts that start a local browser: the configured browser's command line
// and the Edge protocol text, with what the end-to-end tests do not reach:
// format directives in the URL and the exact bounds of the cuts.
#include "browser_call.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

namespace {

TEST(BrowserCall, QuotesPathAndUrlLeavesTheirInsidesAloneAndCutsAt4095)
{
    const std::wstring prefix = L"\"C:\\Br\u00F6wser\\b.exe\" \"";
    EXPECT_EQ(browser_call_text(L"C:\\Br\u00F6wser\\b.exe", L"http://x/a b?%ls%s%%\"q\""),
              prefix + L"http://x/a b?%ls%s%%\"q\"\"");
    // Lengths of the whole call around the bound: 4094, 4095, 4096 and far beyond.
    for (std::size_t call_length : {4094u, 4095u, 4096u, 9000u}) {
        std::wstring url(call_length - prefix.size() - 1, L'u');
        EXPECT_EQ(browser_call_text(L"C:\\Br\u00F6wser\\b.exe", url), (prefix + url + L"\"").substr(0, 4095))
            << call_length;
    }
}

TEST(EdgeProtocol, PutsTheUrlDirectlyBehindTheSchemeAndCutsAt4094)
{
    EXPECT_EQ(edge_protocol_text(L"https://x/a b?%ls%s\"q\""), L"microsoft-edge:https://x/a b?%ls%s\"q\"");
    for (std::size_t url_length : {4078u, 4079u, 4080u, 5000u}) {
        std::wstring url(url_length, L'u');
        EXPECT_EQ(edge_protocol_text(url), (L"microsoft-edge:" + url).substr(0, 4094)) << url_length;
    }
}

TEST(SafeBrowserArgument, EncodesWhatWouldSplitTheArgumentAndRefusesWhatStaysUnsafe)
{
    const std::wstring longest(safe_argument_limit, L'u');
    const std::tuple<std::wstring, bool, std::optional<std::wstring>> cases[] = {
        {L"https://x/a b\t\"c\x7f\x85\U0001F600\u00e4%20\\", false,
         L"https://x/a%20b%09%22c%7F%C2%85\U0001F600\u00e4%20\\"},
        {L"C:\\My Files\\a.html", true, L"\"C:\\My Files\\a.html\""},
        {L"", false, std::nullopt},
        {L"/x", false, std::nullopt},
        {L"-x", false, std::nullopt},
        {L"https://x/\xD800", false, std::nullopt},
        {longest, false, longest},
        {longest + L"u", false, std::nullopt},
        {longest.substr(1) + L" ", false, std::nullopt},  // too long once encoded
    };
    for (const auto& [url, is_file, expected] : cases)
        EXPECT_EQ(safe_browser_argument(url, is_file), expected) << url.size();
    EXPECT_EQ(safe_browser_call_text(L"C:\\b.exe", L"https://x/%22"), L"\"C:\\b.exe\" https://x/%22");
}

}  // namespace
