// The key/value line format and the -configdir extraction.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

struct file_case {
    const char* name;
    std::string content;  // written byte for byte
    std::string key;
    std::optional<std::string> value;
};

const file_case file_cases[] = {
    {"value found on a later line", "[Settings]\nlocal_ie=C:\\ie.exe\nlocal_edge=C:\\edge.exe\n", "local_edge",
     "C:\\edge.exe"},
    {"carriage return line ends are dropped", "local_ie=C:\\ie.exe\r\n", "local_ie", "C:\\ie.exe"},
    {"last line without a line end", "a=1\nlocal_ie=C:\\ie.exe", "local_ie", "C:\\ie.exe"},
    {"key matches in any letter case", "WHITELIST_PATH=x\n", "whitelist_path", "x"},
    {"requested key in any letter case", "ProductName=Acme\n", "PRODUCTNAME", "Acme"},
    {"first of two lines wins", "local_ie=first\nlocal_ie=second\n", "local_ie", "first"},
    {"empty value skipped for a later one", "product_name=\nproduct_name=Acme\n", "product_name", "Acme"},
    {"commented-out key never matches", "#whitelist_path=x\n", "whitelist_path", std::nullopt},
    {"tab before = keeps the key from matching", "local_ie\t=C:\\ie.exe\n", "local_ie", std::nullopt},
    {"missing key", "local_ie=x\n", "local_edge", std::nullopt},
    {"empty file", "", "local_ie", std::nullopt},
    // A line of more than 4094 bytes is read in pieces of 4094 bytes, and
    // each piece counts as a line of its own.
    {"rest of a long line is a line of its own", "first=" + std::string(4088, 'x') + "second=value\n", "second",
     "value"},
    {"first piece of a long line keeps its value", "first=" + std::string(4088, 'x') + "second=value\n", "first",
     std::string(4088, 'x')},
    {"key running past the first piece is lost", "k" + std::string(4093, 'y') + "=v\n", "k" + std::string(4093, 'y'),
     std::nullopt},
    {"= as the last byte of a piece leaves its value in the next piece",
     std::string(4093, 'k') + "=value\n", std::string(4093, 'k'), std::nullopt},
    {"a line of exactly one piece is whole", std::string(4092, 'a') + "=b\nnext=n\n", std::string(4092, 'a'), "b"},
};

TEST(ConfigFile, ReadsTheValueOfTheFirstMatchingLine) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "ostrilo_config_test.cfg";
    for (const file_case& c : file_cases) {
        SCOPED_TRACE(c.name);
        {
            std::ofstream file(path, std::ios::binary | std::ios::trunc);
            file << c.content;
        }
        EXPECT_EQ(get_config_value(c.key, path.string()), c.value);
    }
    std::filesystem::remove(path);
}

TEST(ConfigFile, MissingFileGivesNoValue) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "ostrilo_no_such_file.cfg";
    std::filesystem::remove(path);
    EXPECT_EQ(get_config_value("local_ie", path.string()), std::nullopt);
}

}  // namespace
