// The log records on standard error and in a log file sink.
#include "log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <regex>
#include <string>

namespace {

std::string read_stream(FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    return text;
}

TEST(LogFileSink, WritesDateTimeLevelUnitLineMessageAndCrLf)
{
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(add_log_file(file, LOG_TRACE), 0);
    log_write(LOG_INFO, "ostrilo", 42, "Starting %s", "Ostrilo");
    log_write(LOG_TRACE, "nb_utils", 7, "wide <%ls> and %d", L"text", 5);
    log_write(LOG_ERROR, "kvix_environment", 9, "%s", "x");
    std::string text = read_stream(file);
    std::regex expected(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d INFO  ostrilo:42: Starting Ostrilo\r\n"
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d TRACE nb_utils:7: wide <text> and 5\r\n"
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ERROR kvix_environment:9: x\r\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST(LogWrite, KeepsTheErrorNumber)
{
    errno = 2;
    log_write(LOG_DEBUG, "ostrilo", 1, "record");
    EXPECT_EQ(errno, 2);
}

TEST(LogWrite, StandardErrorTurnedOffGetsNoRecordUntilTurnedOnAgain)
{
    for (bool enabled : {false, true}) {
        set_log_to_stderr(enabled);
        testing::internal::CaptureStderr();
        LOG_OSTRILO(LOG_WARN, "record %d", 1);
        std::string text = testing::internal::GetCapturedStderr();
        EXPECT_EQ(text.find("WARN  ostrilo:"), enabled ? 9u : std::string::npos) << text;
    }
}

TEST(AddLogFile, RefusesTheThirtyThirdSink)
{
    // One sink may already be taken by the test above (tests share the process).
    FILE* file = std::tmpfile();
    int added = 0;
    while (add_log_file(file, LOG_FATAL) == 0)
        ++added;
    EXPECT_LE(added, 32);
    EXPECT_GE(added, 31);
    EXPECT_EQ(add_log_file(file, LOG_FATAL), -1);
}

}  // namespace
