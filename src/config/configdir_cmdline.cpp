// Reading the -configdir folder from the narrow command line.
#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "util_log.h"

configdir_reading read_configdir(const std::string& command_line)
{
    // Not anchored: the first place where the whole pattern matches counts.
    // The value is a double-quoted run (lazy, up to the first closing quote)
    // or a run of non-blank characters.
    const std::optional<std::string> captured = regex_capture(command_line, "-configdir[= ]+((\".+?\")|([^ ]+))", 1);
    if (!captured) {
        return {std::nullopt, LOG_ERROR, "Couldn't read configdir from command line!"};
    }

    std::string_view folder = *captured;
    if (starts_with(folder, "\"")) {
        folder.remove_prefix(1);
    }
    if (ends_with(folder, "\"")) {
        folder.remove_suffix(1);
    }
    while (ends_with(folder, "\\")) {
        folder.remove_suffix(1);
    }

    std::string result = format_unbounded("%s\\", std::string(folder).c_str());
    return {result, LOG_DEBUG, format_unbounded("Read configdir from command line: %s", result.c_str())};
}

std::optional<std::string> get_configdir_from_cmdline(const std::string& command_line)
{
    configdir_reading reading = read_configdir(command_line);
    LOG_ENVIRONMENT(reading.level, "%s", reading.record.c_str());
    return std::move(reading.folder);
}
