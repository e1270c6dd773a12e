// The entry: command line, dispatch, message boxes, the fatal error and the
// shutdown step of a run. The state of a run is one run_context
// (run_context.h), which WinMain builds and passes down.
#pragma once

#include <optional>
#include <string>

struct run_context;

// The help box text, exactly as shown.
const wchar_t* help_text();
void show_help_box();

// Error boxes.
std::wstring make_error_box_title(run_context& run);
std::wstring make_viewer_not_found_text(run_context& run);
void set_error_box_title(const std::optional<std::wstring>& title);
const std::optional<std::wstring>& error_box_title();
// The text of the fatal box for a message and an error number: the message
// alone for 0, else with "Systemfehlercode N: " and the system's text.
std::wstring fatal_error_text(const std::wstring& message, unsigned error_number,
                              const std::optional<std::wstring>& system_text);
[[noreturn]] void fatal_error(unsigned status, const std::wstring& message);
void fatal_error_if(unsigned status, const std::wstring& message);

// Routes one URL that is not a local file: looks it up in the rule files and
// opens it locally or hands it to the viewer. Gives 0 when the run goes on to
// its normal end, 1 when the matching rule names neither "local" nor "remote".
int route_url(run_context& run, const std::wstring& wide_url, const std::string& narrow_url);

// The shutdown step of a normal URL run: forgets the values cached for the run
// (environment, rule file paths, viewer state) and closes the log file.
void free_environment_and_close_log(run_context& run);
