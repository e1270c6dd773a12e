// The log facility: every record goes to standard error; with -log also,
// with date and time, to feldrun.log in the per-user temporary folder.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

enum log_level { LOG_TRACE = 0, LOG_DEBUG = 1, LOG_INFO = 2, LOG_WARN = 3, LOG_ERROR = 4, LOG_FATAL = 5 };

// What one call hands to each output; lives only for the call.
struct log_entry {
    std::string_view body;  // " LEVEL unit:line: message\r\n", formatted once per call
    const char* date_time;  // "YYYY-MM-DD HH:MM:SS" of the call; the time of day is its last 8 characters
    FILE* stream;
    int level;
};

using log_writer = void (*)(log_entry& entry);

// True when a record of this level goes anywhere: standard error is open, or
// an added log file takes the level. The LOG_* helpers ask this before they
// evaluate their arguments.
bool log_wanted(int level);
void log_write(int level, const char* unit, int line, const char* format, ...);
int add_log_file(FILE* stream, int threshold);
void write_file_record(log_entry& entry);
// Opens file_name in folder (the per-user temporary folder, ending in a
// backslash; none prints why there is no log file) and adds its sink.
int init_logging(const std::optional<std::string>& folder, const char* file_name, int threshold);
// Closes the log file; no record may follow.
void close_log_file();
// false: records never go to standard error (for programs whose standard
// error is their own output); true: back to the default, standard error
// whenever the process has one.
void set_log_to_stderr(bool enabled);

// One helper per unit name, so that each call site passes its unit and line.
#define LOG_OSTRILO(level, ...) (log_wanted(level) ? log_write((level), "ostrilo", __LINE__, __VA_ARGS__) : void())
#define LOG_ENVIRONMENT(level, ...) \
    (log_wanted(level) ? log_write((level), "kvix_environment", __LINE__, __VA_ARGS__) : void())
#define LOG_UTILS(level, ...) (log_wanted(level) ? log_write((level), "nb_utils", __LINE__, __VA_ARGS__) : void())
