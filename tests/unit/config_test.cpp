// The key/value line format, the key/value files and the -configdir folder.
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
    std::optional<std::string> key;  // none: the line takes no part
    std::optional<std::string> value;
};

const line_case line_cases[] = {
    {"blanks around key and value are dropped", "  whitelist_path   =   C:\\Rules\\url_whitelist.txt   ",
     "whitelist_path", "C:\\Rules\\url_whitelist.txt"},
    {"blanks before the line end are dropped", "a=b   \n", "a", "b"},
    {"text behind a carriage return is cut", "a=b\rc", "a", "b"},
    {"only the first = splits", "a=b=c", "a", "b=c"},
    {"a doubled = belongs to the value", "key==x", "key", "=x"},
    {"inner blanks and tabs of the value stay", "a= b \t c ", "a", "b \t c"},
    {"a tab before = stays in the key", "local_ie\t=x", "local_ie\t", "x"},
    {"a tab after = stays in the value", "a=\tx", "a", "\tx"},
    {"a hash is part of the key", "#whitelist_path=x", "#whitelist_path", "x"},
    {"case and bytes above 0x7f are kept", "ProductName=Acme \xc3\xbc", "ProductName", "Acme \xc3\xbc"},
    {"a quoted value keeps its quotes", "a=\"x y\"", "a", "\"x y\""},
    {"a line without = takes no part", "[Settings]", std::nullopt, std::nullopt},
    {"an empty value takes no part", "product_name=", std::nullopt, std::nullopt},
    {"a value of blanks and a line end takes no part", "product_name=  \r\n", std::nullopt, std::nullopt},
    {"a key of blanks takes no part", "   = x", std::nullopt, std::nullopt},
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

struct file_case {
    const char* name;
    std::optional<std::string> content;  // written byte for byte; none: no file
    std::string key;
    std::optional<std::string> value;
};

// A line of more than 4094 bytes is read in pieces of 4094 bytes, each a line of its own.
const std::string long_line = "first=" + std::string(4088, 'x') + "second=value\n";

const file_case file_cases[] = {
    {"a later line, the last without a line end", "[Settings]\nlocal_ie=C:\\ie.exe\nlocal_edge=C:\\edge.exe",
     "local_edge", "C:\\edge.exe"},
    {"keys compare in any letter case", "WHITELIST_PATH=x\n", "whitelist_path", "x"},
    {"only ASCII letters fold, not the bytes around them", "a[=x\n", "A{", std::nullopt},
    {"no folding above ASCII", "\xc3\xbc=x\n", "\xc3\x9c", std::nullopt},
    {"a key of another length", "local_ie=x\n", "local_i", std::nullopt},
    {"the first of two lines wins", "local_ie=first\nlocal_ie=second\n", "local_ie", "first"},
    {"an empty value is skipped for a later one", "product_name=\nproduct_name=Acme\n", "product_name", "Acme"},
    {"a missing file", std::nullopt, "local_ie", std::nullopt},
    {"the first piece of a long line keeps its value", long_line, "first", std::string(4088, 'x')},
    {"the rest of a long line is a line of its own", long_line, "second", "value"},
    {"= as the last byte of a piece leaves its value in the next piece", std::string(4093, 'k') + "=value\n",
     std::string(4093, 'k'), std::nullopt},
    {"a line of exactly one piece is whole", std::string(4092, 'a') + "=b\nnext=n\n", std::string(4092, 'a'), "b"},
};

TEST(ConfigFile, ReadsTheValueOfTheFirstMatchingLine) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "ostrilo_config_test.cfg";
    for (const file_case& c : file_cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path);
        if (c.content)
            std::ofstream(path, std::ios::binary) << *c.content;
        EXPECT_EQ(get_config_value(c.key, path.string()), c.value);
    }
    std::filesystem::remove(path);
}

TEST(ConfigDir, ExtractsTheFolderWithOneTrailingBackslash) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"-url \"http://x\" -configdir \"H:\\My Config\"", "H:\\My Config\\"},
        {"-configdir=H:\\cfg -url http://x", "H:\\cfg\\"},
        {"-configdir \"H:\\cfg\\\\\" -log", "H:\\cfg\\"},
        {"-configdir \"\\\\\"", "\\"},  // backslashes alone leave only the separator
        {"-configdir A -configdir B", "A\\"},
        {"-url http://x -configdir", std::nullopt},
        {"-url http://x -log", std::nullopt},
    };
    for (const auto& [command_line, folder] : cases)
        EXPECT_EQ(get_configdir_from_cmdline(command_line), folder) << command_line;
}

}  // namespace
