// The last act of a normal URL run.
#include "kvix_environment.h"
#include "log.h"
#include "entry.h"
#include "run_context.h"
#include "url_rules.h"
#include "viewer.h"

// The run's other values (the installation folder, APPDATA, the opt-in keys,
// the viewer window, COM) stay until the run ends.
void free_environment_and_close_log(run_context& run)
{
    free_environment(run);
    free_rule_file_paths(run);
    free_viewer_state(run);
    close_log_file();
}
