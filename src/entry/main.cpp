// The entry: reads one command line and does exactly one thing with it.
#include "kvix_environment.h"
#include "local_browser.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "registration.h"
#include "run_context.h"
#include "unique_resource.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <optional>
#include <string_view>

namespace {

bool contains(const char* text, const char* part)
{
    return std::strstr(text, part) != nullptr;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int)
{
    // The narrow command line comes without the program name.
    const char* narrow_command_line = command_line ? command_line : "";
    // Everything this run finds and keeps; the units get it passed down.
    run_context run;

    if (contains(narrow_command_line, "-log") || contains(narrow_command_line, "/log"))
        init_logging(get_kvix_tempdir(run), "feldrun.log", 0);
    LOG_OSTRILO(LOG_INFO, "Starting Ostrilo");
    LOG_OSTRILO(LOG_DEBUG, "Command line: %s", narrow_command_line);

    bool help_asked = contains(narrow_command_line, "-help") || contains(narrow_command_line, "/h") ||
                      contains(narrow_command_line, "/help") || contains(narrow_command_line, "/?");
    if (help_asked && !contains(narrow_command_line, "-url")) {
        LOG_OSTRILO(LOG_INFO, "Showing Ostrilo help and exiting.");
        show_help_box();
        return 0;
    }

    set_error_box_title(make_error_box_title(run));
    LOG_OSTRILO(LOG_TRACE, "Have set box title");

    // strict_command_line=1: switches and -configdir come only from the text
    // before ` -url "`, the link is all of the rest up to the last quote.
    const bool strict = get_strict_command_line(run) == 1;
    std::string configdir_source = narrow_command_line;
    std::wstring argument_source = GetCommandLineW();
    std::optional<std::wstring> strict_link;
    if (strict) {
        const std::string spaced = " " + configdir_source;  // the narrow line lacks the program
        const auto narrow_split = split_strict_command_line(std::string_view(spaced));
        const auto wide_split = split_strict_command_line(std::wstring_view(argument_source));
        if (!narrow_split || !wide_split) {
            LOG_OSTRILO(LOG_ERROR,
                        "strict_command_line: the command line is not <program> <switches> -url \"<link>\". "
                        "Nothing is opened.");
            return 1;
        }
        configdir_source = spaced.substr(0, narrow_split->head_end);
        if (wide_split->link)
            strict_link =
                argument_source.substr(wide_split->link->first, wide_split->link->second - wide_split->link->first);
        argument_source.resize(wide_split->head_end);
        // The shape a registration made before the key was set: the folder
        // would end up inside every link, so nothing is opened.
        if (strict_link && strict_link->find(L"\" -configdir \"") != std::wstring::npos) {
            LOG_OSTRILO(LOG_ERROR,
                        "strict_command_line: -configdir stands behind the link; run Ostrilo.exe "
                        "-setregistry again. Nothing is opened.");
            return 1;
        }
    }
    run.configdir = get_configdir_from_cmdline(configdir_source);
    if (run.configdir) {
        while (ends_with(*run.configdir, "\\"))
            run.configdir->pop_back();
    }

    int argument_count = 0;
    const unique_local<wchar_t**> arguments(CommandLineToArgvW(argument_source.c_str(), &argument_count));
    LOG_OSTRILO(LOG_TRACE, "CommandLineToArgvW set");
    // Without a vector there is no URL to be found: the run ends as one without
    // a URL.
    if (!arguments)
        argument_count = 0;
    std::wstring wide_url;
    bool have_url = false;
    for (int i = 1; i < argument_count && !have_url; ++i) {
        LOG_OSTRILO(LOG_TRACE, "Reading command line args. Argument no. %i", i);
        const wchar_t* argument = arguments.get()[i];
        if (strict && std::wcscmp(argument, L"-configdir") == 0) {
            ++i;  // its folder
        } else if (strict && argument[0] != L'-') {
            LOG_OSTRILO(LOG_ERROR,
                        "strict_command_line: a link must follow -url in double quotes, at the end. "
                        "Nothing is opened.");
            return 1;
        } else if (argument[0] != L'-') {
            wide_url = argument;
            have_url = true;
        } else if (std::wcscmp(argument, L"-setregistry") == 0) {
            LOG_OSTRILO(LOG_DEBUG, "This is setregistry. Starting set_ostrilo_registry()");
            set_ostrilo_registry(run);
            return 0;
        } else if (std::wcscmp(argument, L"-resetregistry") == 0 || std::wcscmp(argument, L"-unsetregistry") == 0) {
            LOG_OSTRILO(LOG_DEBUG, "This is resetregistry. Starting reset_ostrilo_registry()");
            reset_ostrilo_registry(run);
            return 0;
        }
    }
    if (!have_url && strict_link) {
        wide_url = *strict_link;
        have_url = true;
    }
    if (!have_url) {
        LOG_OSTRILO(LOG_INFO, "There is no URL. I will return.");
        return -3;
    }

    LOG_OSTRILO(LOG_DEBUG, "Assuming this is the URL: <%ls>", wide_url.c_str());
    std::string narrow_url = wide_to_utf8(wide_url).value_or(std::string());

    if (starts_with(narrow_url, "kvxp://") || starts_with(narrow_url, "kvxps://")) {
        LOG_OSTRILO(LOG_DEBUG, "Detected kvxp(s) protocol: %s", narrow_url.c_str());
        narrow_url.replace(0, 3, "htt");
        LOG_OSTRILO(LOG_DEBUG, "Replaced with standard http(s): %s", narrow_url.c_str());
        wide_url.replace(0, 3, L"htt");
    }

    if (file_exists(narrow_url)) {
        LOG_OSTRILO(LOG_INFO, "URL is actually a file. Opening locally.");
        open_url_locally(run, wide_url, 0);
    } else if (int status = route_url(run, wide_url, narrow_url); status != 0) {
        return status;
    }

    LOG_OSTRILO(LOG_INFO, "Finished, goodbye.");
    free_environment_and_close_log(run);
    return 0;
}
