// The key/value line format, the key/value files and the -configdir folder.
#include "kvix_environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using text = std::optional<std::string>;

TEST(ConfigLine, SplitsEachLineIntoKeyAndValue)
{
    const std::tuple<std::string, text, text> cases[] = {
        {"  whitelist_path   =   C:\\Rules\\url whitelist.txt   ", "whitelist_path", "C:\\Rules\\url whitelist.txt"},
        {"a=b\rc", "a", "b"},                     // text behind a carriage return is cut
        {"key==x", "key", "=x"},                  // only the first = splits
        {"a= b \t c ", "a", "b \t c"},            // inner blanks and tabs of the value stay
        {"local_ie\t=\tx", "local_ie\t", "\tx"},  // tabs around = stay
        {"#Key=\"x y\"", "#Key", "\"x y\""},      // no comments, no quoting, case kept
        {"[Settings]", {}, {}},
        {"product_name=  \r\n", {}, {}},  // an empty value takes no part
        {"   = x", {}, {}},
    };
    for (const auto& [line, key, value] : cases) {
        const auto pair = split_config_line(line);
        EXPECT_EQ(pair ? text(pair->first) : text(), key) << line;
        EXPECT_EQ(pair ? text(pair->second) : text(), value) << line;
    }
}

TEST(ConfigFile, ReadsTheValueOfTheFirstMatchingLineInPiecesOf4094Bytes)
{
    // A line of more than 4094 bytes is read in pieces of 4094 bytes, each a line of its own.
    const std::string long_line = "first=" + std::string(4088, 'x') + "second=value\n";
    const std::tuple<text, std::string, text> cases[] = {
        {"[Settings]\nlocal_ie=C:\\ie.exe\nlocal_edge=C:\\edge.exe", "local_edge", "C:\\edge.exe"},
        {"WHITELIST_PATH=x\n", "whitelist_path", "x"},  // keys compare in any ASCII letter case
        {"a[=x\n\xc3\xbc=x\n", "A{", {}},               // only ASCII letters fold
        {"\xc3\xbc=x\n", "\xc3\x9c", {}},
        {"local_ie=x\n", "local_i", {}},
        {"product_name=\nproduct_name=first\nproduct_name=second\n", "product_name", "first"},
        {std::nullopt, "local_ie", std::nullopt},  // no file
        {long_line, "first", std::string(4088, 'x')},
        {long_line, "second", "value"},
        {std::string(4093, 'k') + "=value\n", std::string(4093, 'k'), {}},  // the value in the next piece
        {std::string(4092, 'a') + "=b\nnext=n\n", std::string(4092, 'a'), "b"},
    };
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "ostrilo_config_test.cfg";
    for (const auto& [content, key, value] : cases) {
        std::filesystem::remove(path);
        if (content)
            std::ofstream(path, std::ios::binary) << *content;
        EXPECT_EQ(get_config_value(key, path.string()), value) << key.substr(0, 20);
    }
    std::filesystem::remove(path);
}

TEST(ConfigDir, ExtractsTheFolderWithOneTrailingBackslash)
{
    const std::pair<std::string, text> cases[] = {
        {"-url \"http://x\" -configdir \"H:\\My Config\"", "H:\\My Config\\"},
        {"-configdir=H:\\cfg -url http://x", "H:\\cfg\\"},
        {"x-configdir \"H:\\cfg\\\\\" \"y\"", "H:\\cfg\\"},
        {"-configdir \"\\\\\"", "\\"},  // backslashes alone leave only the separator
        {"-configdir A -configdir B", "A\\"},
        {"-configdirC:\\x -log", {}},
        {"-url http://x -configdir", {}},
    };
    for (const auto& [command_line, folder] : cases)
        EXPECT_EQ(get_configdir_from_cmdline(command_line), folder) << command_line;
}

}  // namespace
