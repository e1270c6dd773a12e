// The entry: the command line, the help box, the dispatch of one link and the
// shutdown step of a run.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct run_context;

// What one command line asks for, read before anything is done.
// set_registry_at_logon: -setregistry -atlogon, the command of Active Setup and
// of the installation; choose_default: -choosedefault, the question it
// leaves for the time after the desktop has started.
enum class command_action {
    help,
    set_registry,
    set_registry_at_logon,
    choose_default,
    reset_registry,
    open_link,
    nothing,
    refuse
};

// A record of the reading, written once the log is open and the box has its
// title: the records of a run keep their order.
struct command_record {
    int level;
    const char* unit;
    std::string text;
};

struct command_line_value {
    command_action action = command_action::nothing;
    bool log = false;  // -log or /log anywhere in the narrow line
    // The -configdir folder, never ending in a backslash; may be empty.
    std::optional<std::string> configdir;
    // The link as given, a kvxp(s) scheme turned into http(s).
    std::wstring wide_link;
    std::string narrow_link;
    int status = 0;       // the exit status of help, registry and refused runs, and of a run without a link
    std::string refusal;  // refuse: why strict_command_line refused the line
    std::vector<command_record> records;
};

// Reads the narrow line (without the program) and the wide one (with it);
// strict: strict_command_line=1 in ostrilo.cfg. Writes no record itself.
command_line_value read_command_line(std::string_view narrow, std::wstring_view wide, bool strict);

// The help box text, exactly as shown.
const wchar_t* help_text();
void show_help_box();

// Routes one URL that is not a local file: looks it up in the rule files and
// opens it locally or hands it to the viewer. Gives 0 when the run goes on to
// its normal end, 1 when the matching rule names neither "local" nor "remote".
int route_url(run_context& run, const std::wstring& wide_url, const std::string& narrow_url);
// A link that names a file: opened locally without a rule lookup.
void open_file_link(run_context& run, const std::wstring& wide_url, const std::string& narrow_url);

// The shutdown step of a normal URL run: forgets the values cached for the run
// (environment, rule file paths, viewer state) and closes the log file.
void free_environment_and_close_log(run_context& run);
