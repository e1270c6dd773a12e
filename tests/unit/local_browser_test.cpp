// The texts that start a local browser: the configured browser's command line
// and the Edge protocol text.
#include "browser_call.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct call_case {
    const char* behaviour;
    std::wstring path;
    std::wstring url;
    std::wstring call;
};

TEST(BrowserCall, QuotesPathAndUrlAndLeavesTheirInsidesAlone)
{
    const call_case cases[] = {
        {"plain", L"C:\\B\\b.exe", L"https://example.com/", L"\"C:\\B\\b.exe\" \"https://example.com/\""},
        {"blanks stay inside the quotes", L"C:\\Program Files\\B\\b.exe", L"http://x/a b",
         L"\"C:\\Program Files\\B\\b.exe\" \"http://x/a b\""},
        {"a quote in the URL is not escaped", L"b.exe", L"http://x/\"q\"", L"\"b.exe\" \"http://x/\"q\"\""},
        {"percent signs are not format directives", L"b.exe", L"http://x/%ls%s%%", L"\"b.exe\" \"http://x/%ls%s%%\""},
        {"non-ASCII passes unchanged", L"C:\\Br\u00F6wser\\\u00FC.exe", L"http://x/\u20AC",
         L"\"C:\\Br\u00F6wser\\\u00FC.exe\" \"http://x/\u20AC\""},
        {"empty URL", L"b.exe", L"", L"\"b.exe\" \"\""},
    };
    for (const call_case& c : cases)
        EXPECT_EQ(browser_call_text(c.path, c.url), c.call) << c.behaviour;
}

TEST(BrowserCall, IsCutAt4095Characters)
{
    const std::wstring path = L"C:\\b.exe";
    const std::wstring prefix = L"\"" + path + L"\" \"";
    // Lengths of the whole call around the bound: 4094, 4095, 4096 and far beyond.
    for (std::size_t call_length : {std::size_t{4094}, std::size_t{4095}, std::size_t{4096}, std::size_t{9000}}) {
        std::wstring url(call_length - prefix.size() - 1, L'u');
        std::wstring full = prefix + url + L"\"";
        ASSERT_EQ(full.size(), call_length);
        std::wstring call = browser_call_text(path, url);
        EXPECT_EQ(call, full.substr(0, 4095)) << call_length;
    }
}

TEST(EdgeProtocol, PutsTheUrlDirectlyBehindTheSchemeAndCutsAt4094)
{
    EXPECT_EQ(edge_protocol_text(L"https://example.com/a b?\"q\""), L"microsoft-edge:https://example.com/a b?\"q\"");
    EXPECT_EQ(edge_protocol_text(L""), L"microsoft-edge:");
    std::wstring url(5000, L'u');
    std::wstring text = edge_protocol_text(url);
    EXPECT_EQ(text.size(), 4094u);
    EXPECT_EQ(text, (L"microsoft-edge:" + url).substr(0, 4094));
}

}  // namespace
