// The last act of a normal URL run.
#include "kvix_environment.h"
#include "log.h"
#include "ostrilo.h"
#include "url_rules.h"
#include "viewer.h"

void free_environment_and_close_log()
{
    free_environment();
    free_rule_file_paths();
    free_viewer_state();
    close_log_file();
}
