// The viewer hand-off's decisions that need no Win32; private to src/viewer.
#pragma once

#include <optional>
#include <string>

// True when a viewer of this file version understands -initialURL.
bool viewer_version_takes_initial_url(unsigned major, unsigned minor, unsigned patch);

// True when start_child_program should look for the started program's window
// by this title.
bool window_title_worth_searching(const std::optional<std::string>& title);
