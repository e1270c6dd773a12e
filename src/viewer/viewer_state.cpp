// The hand-off's process-wide values that the shutdown step forgets. They sit
// apart from the code that fills them, so that the shutdown step can reach
// them without pulling in the rest of the hand-off.
#include "viewer.h"
#include "viewer_state.h"

std::optional<std::string> pipe_name_file_path;
std::optional<std::string> os_user_name;

void free_viewer_state() {
    pipe_name_file_path.reset();
    os_user_name.reset();
}
