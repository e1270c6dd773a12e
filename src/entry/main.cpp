// The entry: reads one command line and does exactly one thing with it.
#include "central_list.h"
#include "entry.h"
#include "kvix_environment.h"
#include "local_browser.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "registration.h"
#include "run_context.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int)
{
    // The narrow command line comes without the program name.
    const char* narrow_command_line = command_line ? command_line : "";
    // Everything this run finds and keeps; the units get it passed down.
    run_context run;
    set_event_log_key([&run] { return get_event_log(run); });
    // -log and the help switches are read from the whole line in either mode,
    // so this first reading decides them; the strict_command_line key, like
    // every key of ostrilo.cfg but the log key, is read once the log has started.
    const command_line_value loose = read_command_line(narrow_command_line, GetCommandLineW(), false);

    // The log key is read without records, so that the records of a run with
    // it are those of the same run with -log.
    if (loose.log || get_log(run) == 1)
        init_logging(get_kvix_tempdir(run), "feldrun.log", 0);
    LOG_OSTRILO(LOG_INFO, "Starting Ostrilo");
    LOG_OSTRILO(LOG_DEBUG, "Command line: %s", narrow_command_line);
    if (loose.action == command_action::help) {
        LOG_OSTRILO(LOG_INFO, "Showing Ostrilo help and exiting.");
        show_help_box();
        return loose.status;
    }

    set_error_box_title(make_error_box_title(run));
    LOG_OSTRILO(LOG_TRACE, "Have set box title");
    const command_line_value line =
        get_strict_command_line(run) == 1 ? read_command_line(narrow_command_line, GetCommandLineW(), true) : loose;
    for (const command_record& record : line.records) {
        if (log_wanted(record.level))
            log_write(record.level, record.unit, __LINE__, "%s", record.text.c_str());
    }
    run.configdir = line.configdir;

    switch (line.action) {
        case command_action::set_registry:
            set_ostrilo_registry(run, registration_mode::by_hand);
            return line.status;
        case command_action::set_registry_at_logon:
            set_ostrilo_registry(run, registration_mode::at_logon);
            return line.status;
        case command_action::choose_default:
            ask_for_default_browser(run);
            return line.status;
        case command_action::reset_registry:
            reset_ostrilo_registry(run);
            return line.status;
        case command_action::open_link:
            break;
        case command_action::refuse:
            write_event<event_kind::command_line_refused>(std::wstring(GetCommandLineW()), line.refusal);
            return line.status;
        default:
            return line.status;
    }
    int status = 0;
    if (file_exists(line.narrow_link)) {
        open_file_link(run, line.wide_link, line.narrow_link);
    } else {
        // whitelist_url: only a run without a usable cache waits for the list, and not for long.
        prepare_central_list(run);
        status = route_url(run, line.wide_link, line.narrow_link);
    }
    // The link is handed on: a refresh of the central list delays nothing the user waits for.
    refresh_central_list(run);
    if (status != 0)
        return status;

    LOG_OSTRILO(LOG_INFO, "Finished, goodbye.");
    free_environment_and_close_log(run);
    return 0;
}
