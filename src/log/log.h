// The log facility: every record goes to standard error; with -log also,
// with date and time, to feldrun.log in the per-user temporary folder.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

enum log_level { LOG_TRACE = 0, LOG_DEBUG = 1, LOG_INFO = 2, LOG_WARN = 3, LOG_ERROR = 4, LOG_FATAL = 5 };

// What one call hands to each output; lives on the caller's stack.
struct log_entry {
    va_list* arguments;            // copied afresh for every output
    const char* format;
    const char* unit;
    std::optional<std::tm> time;   // read once per call, by the first output that needs it
    FILE* stream;
    int line;
    int level;
};

using log_writer = void (*)(log_entry& entry);

void log_write(int level, const char* unit, int line, const char* format, ...);
int add_log_file(FILE* stream, int threshold);
void write_file_record(log_entry& entry);
// Opens file_name in folder (the per-user temporary folder, ending in a
// backslash; none prints why there is no log file) and adds its sink.
int init_logging(const std::optional<std::string>& folder, const char* file_name, int threshold);
// Closes the log file; no record may follow.
void close_log_file();

// One helper per unit name, so that each call site passes its unit and line.
#define LOG_OSTRILO(level, ...) log_write((level), "ostrilo", __LINE__, __VA_ARGS__)
#define LOG_ENVIRONMENT(level, ...) log_write((level), "kvix_environment", __LINE__, __VA_ARGS__)
#define LOG_UTILS(level, ...) log_write((level), "nb_utils", __LINE__, __VA_ARGS__)
