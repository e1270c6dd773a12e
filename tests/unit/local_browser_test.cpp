// The texts that start a local browser: the configured browser's command line
// and the Edge protocol text, with what the end-to-end tests do not reach:
// format directives in the URL and the exact bounds of the cuts.
#include "browser_call.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
