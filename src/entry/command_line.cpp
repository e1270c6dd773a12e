// Reading one command line into what the run does: text in, a value out
// (CommandLineToArgvW splits the wide line as Windows programs do).
#include "entry.h"

#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "unique_resource.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>

namespace {

bool contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

}  // namespace

command_line_value read_command_line(std::string_view narrow_command_line, std::wstring_view wide_command_line,
                                     bool strict)
{
    command_line_value value;
    const auto note = [&value](int level, std::string text) {
        value.records.push_back({level, "ostrilo", std::move(text)});
    };
    const auto ends = [&value](command_action action, int status) {
        value.action = action;
        value.status = status;
        return value;
    };
    const auto refuse = [&](std::string reason) {
        note(LOG_ERROR, "strict_command_line: " + reason + " Nothing is opened.");
        value.refusal = std::move(reason);
        return ends(command_action::refuse, 1);
    };
    value.log = contains(narrow_command_line, "-log") || contains(narrow_command_line, "/log");
    bool help_asked = contains(narrow_command_line, "-help") || contains(narrow_command_line, "/h") ||
                      contains(narrow_command_line, "/help") || contains(narrow_command_line, "/?");
    if (help_asked && !contains(narrow_command_line, "-url"))
        return ends(command_action::help, 0);

    // strict_command_line=1: switches and -configdir come only from the text
    // before ` -url "`, the link is all of the rest up to the last quote.
    std::string configdir_source(narrow_command_line);
    std::wstring argument_source(wide_command_line);
    std::optional<std::wstring> strict_link;
    if (strict) {
        const std::string spaced = " " + configdir_source;  // the narrow line lacks the program
        const auto narrow_split = split_strict_command_line(std::string_view(spaced));
        const auto wide_split = split_strict_command_line(std::wstring_view(argument_source));
        if (!narrow_split || !wide_split)
            return refuse("the command line is not <program> <switches> -url \"<link>\".");
        configdir_source = spaced.substr(0, narrow_split->head_end);
        if (wide_split->link)
            strict_link =
                argument_source.substr(wide_split->link->first, wide_split->link->second - wide_split->link->first);
        argument_source.resize(wide_split->head_end);
        // The shape a registration made before the key was set: the folder
        // would end up inside every link, so nothing is opened.
        if (strict_link && strict_link->find(L"\" -configdir \"") != std::wstring::npos)
            return refuse("-configdir stands behind the link; run Ostrilo.exe -setregistry again.");
    }
    configdir_reading configdir = read_configdir(configdir_source);
    value.records.push_back({configdir.level, "kvix_environment", std::move(configdir.record)});
    value.configdir = std::move(configdir.folder);
    if (value.configdir) {
        while (ends_with(*value.configdir, "\\"))
            value.configdir->pop_back();
    }

    int argument_count = 0;
    const unique_local<wchar_t**> arguments(CommandLineToArgvW(argument_source.c_str(), &argument_count));
    note(LOG_TRACE, "CommandLineToArgvW set");
    // Without a vector there is no URL to be found: the run ends as one without
    // a URL.
    if (!arguments)
        argument_count = 0;
    std::wstring& wide_url = value.wide_link;
    bool have_url = false;
    for (int i = 1; i < argument_count && !have_url; ++i) {
        note(LOG_TRACE, format_unbounded("Reading command line args. Argument no. %i", i));
        const wchar_t* argument = arguments.get()[i];
        if (strict && std::wcscmp(argument, L"-configdir") == 0) {
            ++i;  // its folder
        } else if (strict && argument[0] != L'-') {
            return refuse("a link must follow -url in double quotes, at the end.");
        } else if (argument[0] != L'-') {
            wide_url = argument;
            have_url = true;
        } else if (std::wcscmp(argument, L"-setregistry") == 0) {
            // -atlogon may stand anywhere among the switches; an older
            // Ostrilo.exe passes over it and registers as by hand.
            for (int j = 1; j < argument_count; ++j) {
                if (std::wcscmp(arguments.get()[j], L"-atlogon") == 0) {
                    note(LOG_DEBUG, "This is setregistry at logon. Starting set_ostrilo_registry() without a window");
                    return ends(command_action::set_registry_at_logon, 0);
                }
            }
            note(LOG_DEBUG, "This is setregistry. Starting set_ostrilo_registry()");
            return ends(command_action::set_registry, 0);
        } else if (std::wcscmp(argument, L"-choosedefault") == 0) {
            note(LOG_DEBUG, "This is choosedefault. Starting ask_for_default_browser()");
            return ends(command_action::choose_default, 0);
        } else if (std::wcscmp(argument, L"-resetregistry") == 0 || std::wcscmp(argument, L"-unsetregistry") == 0) {
            note(LOG_DEBUG, "This is resetregistry. Starting reset_ostrilo_registry()");
            return ends(command_action::reset_registry, 0);
        }
    }
    if (!have_url && strict_link) {
        wide_url = *strict_link;
        have_url = true;
    }
    if (!have_url) {
        note(LOG_INFO, "There is no URL. I will return.");
        return ends(command_action::nothing, -3);
    }

    note(LOG_DEBUG, format_unbounded("Assuming this is the URL: <%ls>", wide_url.c_str()));
    std::string& narrow_url = value.narrow_link;
    narrow_url = wide_to_utf8(wide_url).value_or(std::string());

    if (starts_with(narrow_url, "kvxp://") || starts_with(narrow_url, "kvxps://")) {
        note(LOG_DEBUG, format_unbounded("Detected kvxp(s) protocol: %s", narrow_url.c_str()));
        narrow_url.replace(0, 3, "htt");
        note(LOG_DEBUG, format_unbounded("Replaced with standard http(s): %s", narrow_url.c_str()));
        wide_url.replace(0, 3, L"htt");
    }
    return ends(command_action::open_link, 0);
}
