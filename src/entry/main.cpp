// The entry: reads one command line and does exactly one thing with it.
#include "kvix_environment.h"
#include "local_browser.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "registration.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <memory>

namespace {

struct argv_free {
    void operator()(wchar_t** argv) const { LocalFree(argv); }
};

bool contains(const char* text, const char* part)
{
    return std::strstr(text, part) != nullptr;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int)
{
    // The narrow command line comes without the program name.
    const char* narrow_command_line = command_line ? command_line : "";

    if (contains(narrow_command_line, "-log") || contains(narrow_command_line, "/log"))
        init_logging(get_kvix_tempdir(), "feldrun.log", 0);
    LOG_OSTRILO(LOG_INFO, "Starting Ostrilo");
    LOG_OSTRILO(LOG_DEBUG, "Command line: %s", narrow_command_line);

    bool help_asked = contains(narrow_command_line, "-help") || contains(narrow_command_line, "/h") ||
                      contains(narrow_command_line, "/help") || contains(narrow_command_line, "/?");
    if (help_asked && !contains(narrow_command_line, "-url")) {
        LOG_OSTRILO(LOG_INFO, "Showing Ostrilo help and exiting.");
        show_help_box();
        return 0;
    }

    set_error_box_title(make_error_box_title());
    LOG_OSTRILO(LOG_TRACE, "Have set box title");

    configdir = get_configdir_from_cmdline(narrow_command_line);
    if (configdir) {
        while (ends_with(*configdir, "\\"))
            configdir->pop_back();
    }

    int argument_count = 0;
    std::unique_ptr<wchar_t*, argv_free> arguments(CommandLineToArgvW(GetCommandLineW(), &argument_count));
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
        if (argument[0] != L'-') {
            wide_url = argument;
            have_url = true;
        } else if (std::wcscmp(argument, L"-setregistry") == 0) {
            LOG_OSTRILO(LOG_DEBUG, "This is setregistry. Starting set_ostrilo_registry()");
            set_ostrilo_registry();
            return 0;
        } else if (std::wcscmp(argument, L"-resetregistry") == 0 || std::wcscmp(argument, L"-unsetregistry") == 0) {
            LOG_OSTRILO(LOG_DEBUG, "This is resetregistry. Starting reset_ostrilo_registry()");
            reset_ostrilo_registry();
            return 0;
        }
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
        open_url_locally(wide_url, 0);
    } else if (int status = route_url(wide_url, narrow_url); status != 0) {
        return status;
    }

    LOG_OSTRILO(LOG_INFO, "Finished, goodbye.");
    free_environment_and_close_log();
    return 0;
}
