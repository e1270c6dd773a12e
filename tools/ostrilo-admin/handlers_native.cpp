// Natively, ostrilo-admin brings its own ends of the product's log and fatal
// error: records are dropped (the tool's output is its own) and a fatal error
// ends the tool with its message on standard error. Ostrilo.exe keeps its log
// and its error box.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log.h"
#include "ostrilo.h"

bool log_wanted(int)
{
    return false;
}

void log_write(int, const char*, int, const char*, ...) {}

void fatal_error(unsigned status, const std::wstring& message)
{
    std::fprintf(stderr, "ostrilo-admin: %ls\n", message.c_str());
    std::exit(static_cast<int>(status));
}
