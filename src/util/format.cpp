// printf-style formatting into owned strings, and standard output.
#include "nb_utils.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cwchar>

std::string format_bounded(std::size_t count, const char* format, ...)
{
    if (count == 0)
        return {};
    std::string buffer(count, '\0');
    va_list arguments;
    va_start(arguments, format);
    int written = std::vsnprintf(buffer.data(), count, format, arguments);
    va_end(arguments);
    if (written < 0)
        return {};
    buffer.resize(static_cast<std::size_t>(written) < count ? static_cast<std::size_t>(written) : count - 1);
    return buffer;
}

std::wstring format_wide_bounded(std::size_t count, const wchar_t* format, ...)
{
    if (count == 0)
        return {};
    std::wstring buffer(count, L'\0');
    va_list arguments;
    va_start(arguments, format);
    std::vswprintf(buffer.data(), count, format, arguments);
    va_end(arguments);
    // vswprintf reports a cut as a failure but still terminates within the bound.
    buffer[count - 1] = L'\0';
    buffer.resize(std::wcslen(buffer.c_str()));
    return buffer;
}

std::string format_unbounded(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list measure;
    va_copy(measure, arguments);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string buffer;
    if (length > 0) {
        buffer.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
        buffer.resize(static_cast<std::size_t>(length));
    }
    va_end(arguments);
    return buffer;
}

namespace {

// Other programs built on these units (ostrilo-admin) keep standard output
// for their own text.
bool stdout_lines = true;

}  // namespace

void set_stdout_lines(bool on)
{
    stdout_lines = on;
}

void print_to_stdout(const char* format, ...)
{
    if (!stdout_lines)
        return;
    // A program without a console has no usable standard output; the failed
    // write must not change the error number that a fatal error box reports.
    int saved_errno = errno;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fflush(stdout);
    errno = saved_errno;
}
