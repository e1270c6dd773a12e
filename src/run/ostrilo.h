// The boxes and the fatal error of a run: a German box with the run's title,
// then the end. Every unit may call them; they sit below the units, above the
// log. The state of a run is one run_context (run_context.h beside it).
#pragma once

#include <optional>
#include <string>

#include "events.h"

void set_error_box_title(const std::optional<std::wstring>& title);
const std::optional<std::wstring>& error_box_title();
// The text of the fatal box for a message and an error number: the message
// alone for 0, else with "Systemfehlercode N: " and the system's text.
std::wstring fatal_error_text(const std::wstring& message, unsigned error_number,
                              const std::optional<std::wstring>& system_text);
// The box writes the Error event of its kind first (with event_log).
[[noreturn]] void fatal_error(unsigned status, const std::wstring& message, event_kind kind);
void fatal_error_if(unsigned status, const std::wstring& message, event_kind kind);
