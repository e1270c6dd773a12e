// The key/value line format and the -configdir extraction.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "kvix_environment.h"

namespace {

struct line_case {
    const char* name;
    std::string line;
    std::optional<std::string> key;    // none: the line takes no part
    std::optional<std::string> value;
};

const line_case line_cases[] = {
    {"blanks around key and value are dropped", "  whitelist_path   =   C:\\Rules\\url_whitelist.txt   ",
     "whitelist_path", "C:\\Rules\\url_whitelist.txt"},
    {"plain pair", "a=b", "a", "b"},
    {"line feed ends the value", "local_ie=C:\\ie.exe\n", "local_ie", "C:\\ie.exe"},
    {"carriage return ends the value", "local_ie=C:\\ie.exe\r\n", "local_ie", "C:\\ie.exe"},
    {"blanks before the line end are dropped", "a=b   \n", "a", "b"},
    {"text behind a carriage return is cut", "a=b\rc", "a", "b"},
    {"only the first = splits", "a=b=c", "a", "b=c"},
    {"a doubled = belongs to the value", "key==x", "key", "=x"},
    {"inner blanks and tabs of the value stay", "a= b \t c ", "a", "b \t c"},
    {"a tab before = stays in the key", "local_ie\t=x", "local_ie\t", "x"},
    {"a tab after = stays in the value", "a=\tx", "a", "\tx"},
    {"a leading tab stays in the key", "\tlocal_ie=x", "\tlocal_ie", "x"},
    {"inner blanks of the key stay", "product name = x", "product name", "x"},
    {"a hash is part of the key", "#whitelist_path=x", "#whitelist_path", "x"},
    {"case of key and value is kept", "ProductName=Acme Pro", "ProductName", "Acme Pro"},
    {"bytes above 0x7f are kept", "product_name=Acme \xc3\xbc", "product_name", "Acme \xc3\xbc"},
    {"a quoted value keeps its quotes", "a=\"x y\"", "a", "\"x y\""},
    {"a section header takes no part", "[Settings]", std::nullopt, std::nullopt},
    {"a line without = takes no part", "whitelist_path", std::nullopt, std::nullopt},
    {"an empty value takes no part", "product_name=", std::nullopt, std::nullopt},
    {"a value of blanks takes no part", "product_name=    ", std::nullopt, std::nullopt},
    {"a value of a line end takes no part", "product_name=  \r\n", std::nullopt, std::nullopt},
    {"an empty key takes no part", "=x", std::nullopt, std::nullopt},
    {"a key of blanks takes no part", "   = x", std::nullopt, std::nullopt},
    {"an empty line takes no part", "", std::nullopt, std::nullopt},
    {"a line end alone takes no part", "\n", std::nullopt, std::nullopt},
};

TEST(ConfigLine, SplitsEachLineIntoKeyAndValue) {
    for (const line_case& c : line_cases) {
        SCOPED_TRACE(c.name);
        const auto pair = split_config_line(c.line);
        ASSERT_EQ(pair.has_value(), c.key.has_value());
        if (pair) {
            EXPECT_EQ(pair->first, *c.key);
            EXPECT_EQ(pair->second, *c.value);
        }
    }
}

struct keys_case {
    const char* a;
    const char* b;
    bool equal;
};

const keys_case keys_cases[] = {
    {"whitelist_path", "WHITELIST_PATH", true},
    {"ProductName", "productname", true},
    {"local_ie", "local_ie", true},
    {"local_ie", "local_ie\t", false},
    {"local_ie", "local_i", false},
    {"local_ie", "local_ix", false},
    {"a[", "A{", false},              // only letters fold, not the bytes around them
    {"\xc3\xbc", "\xc3\x9c", false},  // no folding above ASCII
    {"", "", true},
};

TEST(ConfigLine, KeysCompareWithAsciiCaseFolding) {
    for (const keys_case& c : keys_cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(keys_equal(c.a, c.b), c.equal);
        EXPECT_EQ(keys_equal(c.b, c.a), c.equal);
    }
}

struct configdir_case {
    const char* name;
    std::string command_line;
    std::optional<std::string> folder;
};

const configdir_case configdir_cases[] = {
    {"quoted folder with a blank", "-url \"http://x\" -configdir \"H:\\My Config\"", "H:\\My Config\\"},
    {"unquoted folder", "-url http://x -configdir H:\\cfg", "H:\\cfg\\"},
    {"equals sign in place of the blank", "-configdir=H:\\cfg -url http://x", "H:\\cfg\\"},
    {"blanks and equals signs mixed", "-configdir = H:\\cfg", "H:\\cfg\\"},
    {"quoted folder ending in two backslashes", "-configdir \"H:\\cfg\\\\\" -log", "H:\\cfg\\"},
    {"unquoted folder ending in a backslash", "-configdir H:\\cfg\\", "H:\\cfg\\"},
    {"quoted run ends at the first closing quote", "-configdir \"a\" \"b\"", "a\\"},
    {"backslashes alone leave only the separator", "-configdir \"\\\\\"", "\\"},
    {"empty quotes leave only the separator", "-configdir \"\" -log", "\\"},
    {"first occurrence counts", "-configdir A -configdir B", "A\\"},
    {"no value behind the switch", "-url http://x -configdir", std::nullopt},
    {"switch missing", "-url http://x -log", std::nullopt},
    {"empty command line", "", std::nullopt},
};

TEST(ConfigDir, ExtractsTheFolderWithOneTrailingBackslash) {
    for (const configdir_case& c : configdir_cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(get_configdir_from_cmdline(c.command_line), c.folder);
    }
}

}  // namespace
