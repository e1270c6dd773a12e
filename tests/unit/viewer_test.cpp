// The viewer hand-off's own decisions: the URL encoding, and (under Windows)
// which running viewer counts as the current user's.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "viewer.h"

namespace {

struct encode_case {
    const char* behaviour;
    std::string input;
    std::string expected;
};

const encode_case encode_cases[] = {
    {"empty text stays empty", "", ""},
    {"letters and digits pass", "AZaz09", "AZaz09"},
    {"a plain URL passes unchanged", "https://example.org/a/b?x=1&y=2#top", "https://example.org/a/b?x=1&y=2#top"},
    {"every kept punctuation mark passes", "!#$%&'()*+,-./:;=?@_~", "!#$%&'()*+,-./:;=?@_~"},
    {"backslash and vertical bar pass", "a\\b|c", "a\\b|c"},
    {"a remote hand-off text keeps its two bars", "work|firefox|http://a.b/c d",
     "work|firefox|http://a.b/c+d"},
    {"a space becomes a plus sign", "a b  c", "a+b++c"},
    {"percent and plus signs pass, so a+b and a%2bb stay apart", "a+b a%2bb", "a+b+a%2bb"},
    {"angle brackets become %3c and %3e", "<b>", "%3cb%3e"},
    {"double quote and grave accent are escaped", "\"`", "%22%60"},
    {"brackets, caret and braces are escaped", "[]^{}", "%5b%5d%5e%7b%7d"},
    {"control bytes are escaped with two digits", "\x01\t\n\r\x1f", "%01%09%0a%0d%1f"},
    {"DEL is escaped", "\x7f", "%7f"},
    {"UTF-8 a-umlaut becomes %c3%a4 in lower-case hex", "\xc3\xa4", "%c3%a4"},
    {"the highest byte is escaped", "\xff", "%ff"},
    {"a URL with a blank, brackets and an umlaut", "http://h/s?q=a b<c>\xc3\xa4",
     "http://h/s?q=a+b%3cc%3e%c3%a4"},
};

TEST(UrlEncode, MapsEachByteByTheTable) {
    for (const auto& row : encode_cases) {
        EXPECT_EQ(url_encode(row.input), row.expected) << row.behaviour;
    }
}

// Whatever its class, each byte's output names that byte: the byte itself,
// "+" for the blank, or "%" and two lower-case hex digits of its value.
TEST(UrlEncode, EveryByteEncodesToItselfPlusOrItsLowerCaseHex) {
    for (int value = 1; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const std::string encoded = url_encode(std::string(1, byte));
        if (value == ' ') {
            EXPECT_EQ(encoded, "+");
        } else if (encoded.size() == 1) {
            EXPECT_EQ(encoded[0], byte) << "byte " << value;
        } else {
            ASSERT_EQ(encoded.size(), 3u) << "byte " << value;
            EXPECT_EQ(encoded[0], '%');
            EXPECT_EQ(std::stoi(encoded.substr(1), nullptr, 16), value) << "byte " << value;
            EXPECT_EQ(encoded.find_first_of("ABCDEF"), std::string::npos) << "byte " << value;
        }
    }
}

// The encoded text goes into a double-quoted command-line argument, so it
// must never hold a blank or a double quote.
TEST(UrlEncode, OutputHoldsNoBlankAndNoDoubleQuote) {
    std::string all_bytes;
    for (int value = 1; value < 256; ++value) all_bytes += static_cast<char>(value);
    const std::string encoded = url_encode(all_bytes);
    EXPECT_EQ(encoded.find_first_of(" \""), std::string::npos);
}

}  // namespace
