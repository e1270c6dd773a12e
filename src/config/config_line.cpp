// Splitting one line of a key/value file. Text in, text out: the reader in
// config_file.cpp hands every piece it reads to split_config_line.
#include "kvix_environment.h"
#include "nb_utils.h"

namespace {

// Only the space character counts as a blank in these files; a tab stays
// part of the key or the value.
std::string_view strip_blanks(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::pair<std::string, std::string>> split_config_line(std::string_view line)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    // The value runs from behind the first "=" to the first line break; a CR
    // or LF in front of the "=" stays in the key.
    std::string_view value = line.substr(equals + 1);
    value = value.substr(0, value.find_first_of("\r\n"));
    value = strip_blanks(value);
    const std::string_view key = strip_blanks(line.substr(0, equals));
    if (key.empty() || value.empty()) {
        return std::nullopt;
    }
    return std::make_pair(std::string(key), std::string(value));
}

bool keys_equal(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
}
