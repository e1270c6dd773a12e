// The events Ostrilo writes to the Application log with event_log=1 (key 1)
// or 2 (key 2), one row per kind: its stable ID, the name the code calls it
// by, its level, and its English message with the insertion strings %1 to %9
// (%n breaks the line). The box rows are the error boxes: each writes an
// Error event whose first string is the row's English reason and whose second
// is the box's German text, under the one message of OSTRILO_BOX_MESSAGE.
//
// events.h makes the table of the program from these rows, and
// cmake/event_messages.cmake the message file that windmc compiles into
// Ostrilo.exe: one row per line, a message within one pair of quotes, with
// neither quotes nor a percent sign other than %1 to %9 and %n inside.
// docs/event-log.md lists every row with what an administrator does.
// clang-format off
//           ID   name                          level        key message
OSTRILO_EVENT(100, registered,                   information, 1, "Ostrilo registered itself as the browser for this user with the open command %1, on Windows %2.%nDefault browser: %3.")
OSTRILO_EVENT(101, unregistered,                 information, 1, "Ostrilo removed its browser registration %1 for this user, on Windows %2.")
OSTRILO_EVENT(110, link_routed,                  information, 2, "Ostrilo routed the link %1.%nLooked up as: %2%nDecided by: %3%nWent to: %4")
OSTRILO_EVENT(200, copy_answered,                warning,     1, "The central rule file %1 cannot be read (%2). Its copy of %3 in %4 answered in its place.")
OSTRILO_EVENT(201, slow_file_copy_answered,      warning,     1, "The central rule file %1 did not answer within %2 ms (whitelist_timeout_ms). Its copy of %3 in %4 answered in its place.")
OSTRILO_EVENT(202, slow_file_waited_for,         warning,     1, "The central rule file %1 did not answer within %2 ms (whitelist_timeout_ms) and has no intact copy, so Ostrilo waited for it.")
OSTRILO_EVENT(203, copy_damaged,                 warning,     1, "The copy %1 of the central rule file %2 is damaged (%3). %4")
OSTRILO_EVENT(204, copy_not_kept,                warning,     1, "Ostrilo cannot keep a copy of the central rule file %1 in %2 (%3). No copy will answer for the file while it cannot be read.")
OSTRILO_EVENT(210, browser_not_started,          warning,     1, "%1 could not be started for the link %2.%nStarted instead: %3.")
OSTRILO_EVENT(211, link_refused,                 warning,     1, "safe_browser_arguments refused the link %1: no local browser can be given it as one safe argument. Nothing was opened.")
OSTRILO_EVENT(212, command_line_refused,         warning,     1, "strict_command_line refused the command line %1: %2 Nothing was opened.")
OSTRILO_EVENT(213, unknown_destination,          warning,     1, "The rule %2 matched the link %1, but its destination is neither local nor remote. Nothing was opened.")
OSTRILO_EVENT(220, central_list_not_fetched,     warning,     1, "The central rule list %1 could not be fetched (%2). %3")
OSTRILO_EVENT(221, central_list_refused,         warning,     1, "The central rule list %1 was refused as a whole (%2). %3")
OSTRILO_EVENT(222, central_cache_not_kept,       warning,     1, "Ostrilo cannot keep the cache of the central rule list %1 in %2 (%3). %4")
OSTRILO_EVENT(223, central_url_refused,          warning,     1, "whitelist_url %1 is refused (%2). Links go without the central rule list.")
OSTRILO_BOX_MESSAGE("Ostrilo showed an error box: %1%n%nThe box said:%n%2")
OSTRILO_BOX(300, rule_file_missing,              "The rule file that whitelist_path names was not found; no link is opened until it is back.")
OSTRILO_BOX(301, viewer_missing,                 "No viewer was running and none could be started (vncviewer.exe 2.1.4 or later, or viewer_selector.exe); the link was not opened.")
OSTRILO_BOX(302, clipboard_blocked,              "Another program holds the clipboard, so the link could not be handed to the running viewer.")
OSTRILO_BOX(303, clipboard_failed,               "The link could not be put on the clipboard for the running viewer.")
OSTRILO_BOX(304, local_browser_failed,           "The browser program configured in ostrilo.cfg could not be started.")
OSTRILO_BOX(305, program_failed,                 "A program Ostrilo starts (the viewer, its selector or the Control Panel) could not be started.")
OSTRILO_BOX(306, appdata_missing,                "The environment variable APPDATA is not set.")
OSTRILO_BOX(307, appdata_folder_failed,          "The folder vnc in the APPDATA folder could not be created.")
OSTRILO_BOX(308, path_too_long,                  "A path to a program of the installation is longer than 8096 characters.")
OSTRILO_BOX(309, user_name_unknown,              "The logon name of the user could not be read.")
OSTRILO_BOX(310, process_list_failed,            "The list of running processes could not be read to find the viewer.")
OSTRILO_BOX(311, rule_memory,                    "There was not enough memory to read the rule files.")
OSTRILO_BOX(312, internal_error,                 "An internal error: the title of the error box was missing.")
// clang-format on
