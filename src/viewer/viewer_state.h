// The hand-off's values kept for the run and forgotten by free_viewer_state;
// private to src/viewer.
#pragma once

#include <optional>
#include <string>

// The path of the pipe-name file, built on first use.
extern std::optional<std::string> pipe_name_file_path;
// The current user's logon name, fetched once.
extern std::optional<std::string> os_user_name;
