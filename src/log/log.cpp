// The log facility: standard error always, the log file with -log.
#include "log.h"

#include "nb_utils.h"
#include "unique_resource.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <new>

#ifdef _WIN32
#include <windows.h>
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
int lowest_sink_threshold = INT_MAX;

unique_file log_file;

enum class stderr_state { unknown, open, closed, turned_off };
stderr_state standard_error = stderr_state::unknown;

// A program that the shell starts has no standard error at all; then records
// for it cannot be written, and need not be formatted. A file, a pipe or a
// console gets every record.
bool stderr_open()
{
    if (standard_error == stderr_state::unknown) {
        bool open = true;
#ifdef _WIN32
        int saved_errno = errno;
        int descriptor = _fileno(stderr);
        intptr_t handle = descriptor < 0 ? -1 : _get_osfhandle(descriptor);
        open = handle != -1 && handle != -2 && handle != 0;
        // Records end in CR LF as written; a text-mode stream would double the CR.
        if (open)
            _setmode(descriptor, _O_BINARY);
        errno = saved_errno;
#endif
        standard_error = open ? stderr_state::open : stderr_state::closed;
    }
    return standard_error == stderr_state::open;
}

// "YYYY-MM-DD HH:MM:SS" of now. The local time is converted again only when
// the second changes, so each record still shows the second of its writing.
const char* date_time_now()
{
    static std::time_t converted_second = -1;
    static char text[64] = "";
#ifdef _WIN32
    // The runtime's time() costs microseconds under some systems; the system
    // clock is read from memory. Both count seconds since 1970 alike.
    FILETIME system_time;
    GetSystemTimeAsFileTime(&system_time);
    ULARGE_INTEGER ticks{{system_time.dwLowDateTime, system_time.dwHighDateTime}};
    std::time_t now = static_cast<std::time_t>((ticks.QuadPart - 116444736000000000ULL) / 10000000ULL);
#else
    std::time_t now = std::time(nullptr);
#endif
    if (now != converted_second || text[0] == '\0') {
        std::tm local{};
        if (const std::tm* converted = std::localtime(&now))
            local = *converted;
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
        converted_second = now;
    }
    return text;
}

// " LEVEL unit:line: message\r\n" into body; the buffer is kept for the next call.
void format_body(std::string& body, int level, const char* unit, int line, const char* format, va_list arguments)
{
    body.assign(1, ' ');
    body += level_names[level];
    body.append(5 - std::strlen(level_names[level]) + 1, ' ');
    body += unit;
    body += ':';
    char digits[16];
    body.append(digits, std::to_chars(digits, digits + sizeof digits, line).ptr);
    body += ": ";
    std::size_t header = body.size();
    char message[1024];
    va_list measure;
    va_copy(measure, arguments);
    int length = std::vsnprintf(message, sizeof message, format, measure);
    va_end(measure);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof message) {
        body.append(message, static_cast<std::size_t>(length));
    } else if (length > 0) {
        body.resize(header + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(body.data() + header, static_cast<std::size_t>(length) + 1, format, arguments);
        body.resize(header + static_cast<std::size_t>(length));
    }
    body += "\r\n";
}

// The whole record in one write, nothing left in a buffer.
void write_stream(FILE* stream, std::string_view time_text, std::string_view body, std::string& record)
{
    record.assign(time_text);
    record += body;
#ifdef _WIN32
    // Straight to the stream's handle: one system call per record (a console
    // is slow per call), without the runtime's seek before every write to a
    // file opened for appending (the log file's handle appends by itself).
    if (stream != stderr)
        std::fflush(stream);
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), record.data(),
              static_cast<DWORD>(record.size()), &written, nullptr);
#else
    std::fwrite(record.data(), 1, record.size(), stream);
    std::fflush(stream);
#endif
}

// The log path opened for appending in binary mode; every write lands at the
// end of the file, also when another run writes to the same file.
FILE* open_for_appending(const std::string& path)
{
#ifdef _WIN32
    unique_file_handle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return nullptr;
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_APPEND | _O_BINARY);
    if (descriptor == -1)
        return nullptr;
    // The descriptor owns the handle now.
    file.release();
    FILE* stream = _fdopen(descriptor, "ab");
    if (!stream)
        _close(descriptor);
    return stream;
#else
    return std::fopen(path.c_str(), "ab");
#endif
}

std::string record_buffer;

}  // namespace

bool log_wanted(int level)
{
    return level >= lowest_sink_threshold || (standard_error != stderr_state::turned_off && stderr_open());
}

void log_write(int level, const char* unit, int line, const char* format, ...)
{
    if (!log_wanted(level))
        return;
    // Writing a record must not change the error number that a later fatal
    // error box reports (a windowed program's standard error may be invalid).
    int saved_errno = errno;
#ifdef _WIN32
    DWORD saved_last_error = GetLastError();
#endif
    try {
        static std::string body;
        va_list arguments;
        va_start(arguments, format);
        format_body(body, level, unit, line, format, arguments);
        va_end(arguments);
        log_entry entry{body, date_time_now(), stderr, level};
        if (standard_error != stderr_state::turned_off && stderr_open())
            write_stream(stderr, std::string_view(entry.date_time).substr(11), body, record_buffer);
        for (const log_sink& sink : sinks) {
            if (!sink.writer)
                break;
            if (sink.threshold > level)
                continue;
            entry.stream = sink.stream;
            sink.writer(entry);
        }
    } catch (const std::bad_alloc&) {
        // A record that cannot be formatted is lost, like one that cannot be written.
    }
#ifdef _WIN32
    SetLastError(saved_last_error);
#endif
    errno = saved_errno;
}

int add_log_file(FILE* stream, int threshold)
{
    for (log_sink& sink : sinks) {
        if (!sink.writer) {
            sink = {&write_file_record, stream, threshold};
            if (threshold < lowest_sink_threshold)
                lowest_sink_threshold = threshold;
            return 0;
        }
    }
    return -1;
}

void write_file_record(log_entry& entry)
{
    write_stream(entry.stream, entry.date_time, entry.body, record_buffer);
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
    if (file_exists(log_path)) {
        // The helpers below the log write no record, so the log writes the
        // rotation's record itself, under the helpers' unit name as before.
        if (file_exists(old_path))
            LOG_UTILS(LOG_TRACE, "Deleting '%s' before moving it because the user wants to overwrite it",
                      old_path.c_str());
        replace_file(log_path, old_path);
    }
    log_file.reset(open_for_appending(log_path));
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
        lowest_sink_threshold = INT_MAX;
        log_file.reset();
    }
}

void set_log_to_stderr(bool enabled)
{
    standard_error = enabled ? stderr_state::unknown : stderr_state::turned_off;
}
