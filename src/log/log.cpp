// The log facility: standard error always, the log file with -log.
#include "log.h"

#include "nb_utils.h"

#include <array>
#include <cerrno>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char* const level_names[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"};

struct log_sink {
    log_writer writer = nullptr;
    FILE* stream = nullptr;
    int threshold = 0;
};

std::array<log_sink, 32> sinks;

unique_file log_file;

const std::tm& entry_time(log_entry& entry)
{
    if (!entry.time) {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        if (const std::tm* converted = std::localtime(&now))
            local = *converted;
        entry.time = local;
    }
    return *entry.time;
}

void write_record(log_entry& entry, FILE* stream, const char* time_format, std::size_t time_size)
{
    char time_text[64] = "";
    std::strftime(time_text, time_size, time_format, &entry_time(entry));
    std::fprintf(stream, "%s %-5s %s:%d: ", time_text, level_names[entry.level], entry.unit, entry.line);
    va_list arguments;
    va_copy(arguments, *entry.arguments);
    std::vfprintf(stream, entry.format, arguments);
    va_end(arguments);
    std::fputs("\r\n", stream);
    std::fflush(stream);
}

}  // namespace

void log_write(int level, const char* unit, int line, const char* format, ...)
{
    // Writing a record must not change the error number that a later fatal
    // error box reports (a windowed program's standard error may be invalid).
    int saved_errno = errno;
#ifdef _WIN32
    // Records end in CR LF as written; a text-mode stream would double the CR.
    static const bool binary_stderr = _setmode(_fileno(stderr), _O_BINARY) != -1;
    (void)binary_stderr;
#endif
    va_list arguments;
    va_start(arguments, format);
    log_entry entry{&arguments, format, unit, std::nullopt, stderr, line, level};
    write_record(entry, stderr, "%H:%M:%S", 16);
    for (const log_sink& sink : sinks) {
        if (!sink.writer)
            break;
        if (sink.threshold > level)
            continue;
        entry.stream = sink.stream;
        sink.writer(entry);
    }
    va_end(arguments);
    errno = saved_errno;
}

int add_log_file(FILE* stream, int threshold)
{
    for (log_sink& sink : sinks) {
        if (!sink.writer) {
            sink = {&write_file_record, stream, threshold};
            return 0;
        }
    }
    return -1;
}

void write_file_record(log_entry& entry)
{
    write_record(entry, entry.stream, "%Y-%m-%d %H:%M:%S", 64);
}

int init_logging(const std::optional<std::string>& folder, const char* file_name, int threshold)
{
    if (!folder) {
        print_to_stdout("Failed to initialize logging (failed to get tmp dir).\n");
        return 0;
    }
    // The folder ends in a backslash, so the path holds "\/"; Windows takes it.
    std::string log_path = format_bounded(4095, "%s/%s", folder->c_str(), file_name);
    std::string old_path = format_bounded(4095, "%s.old", log_path.c_str());
    if (file_exists(log_path))
        move_file(log_path, old_path, true);
    log_file.reset(std::fopen(log_path.c_str(), "ab"));
    if (!log_file) {
        print_to_stdout("Failed to initialize logging (failed to open file to log to (%s)).\n", log_path.c_str());
        return 0;
    }
    add_log_file(log_file.get(), threshold);
    return 1;
}

void close_log_file()
{
    if (log_file) {
        // The sink keeps its stream; nothing logs after the shutdown step, so
        // drop the sinks with the file rather than leave them dangling.
        sinks = {};
        log_file.reset();
    }
}
