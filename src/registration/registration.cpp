// Registration as a browser for the current user, making it the default, and
// the removal. The registry contents are three tables, each walked in order.
#include "registration.h"

#include "associations.h"
#include "default_apps_page.h"
#include "registry_value.h"

#include "kvix_environment.h"
#include "log.h"
#include "nb_utils.h"
#include "ostrilo.h"
#include "run_context.h"
#include "viewer.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <optional>
#include <string>

namespace {

// What the rows write that is worked out at run time.
struct registry_values {
    std::wstring program_path;
    std::wstring open_command;
    std::wstring application_icon;
    std::wstring application_name;
    std::wstring application_description;
    std::wstring registered_application_key;
};

// One cell of a row: a fixed text, a value worked out at run time, or none
// (the key's unnamed value in the name column, no value in the data column).
struct registry_text {
    const wchar_t* literal = nullptr;
    std::wstring registry_values::*computed = nullptr;

    constexpr registry_text() = default;
    constexpr registry_text(const wchar_t* text) : literal(text) {}
    constexpr registry_text(std::wstring registry_values::*member) : computed(member) {}

    const wchar_t* resolve(const registry_values& values) const
    {
        return computed != nullptr ? (values.*computed).c_str() : literal;
    }
};

constexpr registry_text none;
constexpr registry_text default_value;
constexpr registry_text program_path = &registry_values::program_path;
constexpr registry_text open_command = &registry_values::open_command;
constexpr registry_text application_icon = &registry_values::application_icon;
constexpr registry_text application_name = &registry_values::application_name;
constexpr registry_text application_description = &registry_values::application_description;
constexpr registry_text registered_application_key = &registry_values::registered_application_key;

enum class registry_operation {
    create,                     // create_reg_key under HKEY_CURRENT_USER
    delete_tree_local_machine,  // delete_key_and_subkeys_from_hkey_local_machine
    delete_tree_current_user,   // delete_key_and_subkeys_from_hkey_current_user
    delete_key_current_user,    // delete_key_from_hkey_current_user (only without subkeys)
    delete_value_current_user,  // one value of a key under HKEY_CURRENT_USER
};

struct registry_row {
    registry_operation operation;
    registry_text key;
    registry_text name;
    registry_text data;
};

using enum registry_operation;

// The tables keep one row per line, so that they can be held against the registry.
// clang-format off
constexpr registry_row registration_rows[] = {
    {create, L"Software\\Classes\\NB.HTML", default_value, L"Ostrilo HTML"},
    {create, L"Software\\Classes\\NB.HTML", L"FriendlyTypeName", L"Ostrilo HTML"},
    {create, L"Software\\Classes\\NB.HTML\\shell", default_value, L"open"},
    {create, L"Software\\Classes\\NB.HTML\\shell\\open", none, none},
    {create, L"Software\\Classes\\NB.HTML\\shell\\open\\command", default_value, open_command},
    {create, L"Software\\Classes\\NB.HTML\\shell\\open\\ddexec", none, none},
    {create, L"Software\\Classes\\NB.HTML\\DefaultIcon", default_value, application_icon},
    {create, L"Software\\Classes\\NB.HTTP", default_value, L"Ostrilo URL"},
    {create, L"Software\\Classes\\NB.HTTP", L"FriendlyTypeName", L"Ostrilo URL"},
    {create, L"Software\\Classes\\NB.HTTP", L"URLProtocol", L""},
    {create, L"Software\\Classes\\NB.HTTP\\shell", default_value, L"open"},
    {create, L"Software\\Classes\\NB.HTTP\\shell\\open", none, none},
    {create, L"Software\\Classes\\NB.HTTP\\shell\\open\\command", default_value, open_command},
    {create, L"Software\\Classes\\NB.HTTP\\DefaultIcon", default_value, application_icon},
    {create, L"Software\\Classes\\NB.HTTPS", default_value, L"Ostrilo URL"},
    {create, L"Software\\Classes\\NB.HTTPS", L"FriendlyTypeName", L"Ostrilo URL"},
    {create, L"Software\\Classes\\NB.HTTPS", L"URLProtocol", L""},
    {create, L"Software\\Classes\\NB.HTTPS\\shell", default_value, L"open"},
    {create, L"Software\\Classes\\NB.HTTPS\\shell\\open", none, none},
    {create, L"Software\\Classes\\NB.HTTPS\\shell\\open\\command", default_value, open_command},
    {create, L"Software\\Classes\\NB.HTTPS\\DefaultIcon", default_value, application_icon},
    {create, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ostrilo.exe", default_value, program_path},
    {create, L"Software\\Clients\\StartMenuInternet", default_value, L"OSTRILO.EXE"},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE", default_value, application_name},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities", L"ApplicationDescription", application_description},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities", L"ApplicationIcon", application_icon},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities", L"ApplicationName", application_name},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities\\FileAssociations", browser_associations[0].identifier, browser_associations[0].prog_id},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities\\FileAssociations", browser_associations[1].identifier, browser_associations[1].prog_id},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities\\URLAssociations", browser_associations[2].identifier, browser_associations[2].prog_id},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities\\URLAssociations", browser_associations[3].identifier, browser_associations[3].prog_id},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\DefaultIcon", default_value, application_icon},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\shell", none, none},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\shell\\open", none, none},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\shell\\open\\command", default_value, open_command},
    {create, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\InstallInfo", none, none},
    {create, L"Software\\RegisteredApplications", application_name, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities"},
};

// Windows 7 and older: the per-user choices are written directly.
constexpr registry_row forced_default_rows[] = {
    {create, L"Software\\Classes\\http\\shell\\open\\command", default_value, open_command},
    {create, L"Software\\Classes\\http\\DefaultIcon", default_value, application_icon},
    {delete_tree_local_machine, L"Software\\Classes\\http\\shell\\open\\ddeexec", none, none},
    {create, L"Software\\Classes\\https\\shell\\open\\command", default_value, open_command},
    {create, L"Software\\Classes\\https\\DefaultIcon", default_value, application_icon},
    {delete_tree_local_machine, L"Software\\Classes\\https\\shell\\open\\ddeexec", none, none},
    {create, L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice", L"Progid", L"NB.HTTP"},
    {create, L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\https\\UserChoice", L"Progid", L"NB.HTTPS"},
};

// Only with lotus_notes_html_workaround: .html files open here as well. The
// single-key deletion leaves a UserChoice key with subkeys in place; the
// Progid is then written into it.
constexpr registry_row html_workaround_rows[] = {
    {create, L"Software\\Classes\\.html", default_value, L"NB.HTML"},
    {delete_key_current_user, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice", none, none},
    {create, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice", L"Progid", L"NB.HTML"},
    {create, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\OpenWithList", L"a", L"Ostrilo.exe"},
    {create, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\OpenWithList", L"MRUList", L"a"},
};

// Removal leaves the App Paths key, the StartMenuInternet default value and
// the forced per-user choices alone.
//
// The key below RegisteredApplications is never created by the registration
// (it writes a value there), so its deletion only logs an error; it stays for
// registrations of older versions. The value itself is deleted as well: it
// points at the Capabilities key that this removal has just deleted, and an
// administrator who removes the program wants it gone from the list of
// programs that Windows offers as browsers, not a dangling entry there.
constexpr registry_row removal_rows[] = {
    {delete_tree_current_user, L"Software\\Classes\\NB.HTML", none, none},
    {delete_tree_current_user, L"Software\\Classes\\NB.HTTP", none, none},
    {delete_tree_current_user, L"Software\\Classes\\NB.HTTPS", none, none},
    {delete_tree_current_user, L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE", none, none},
    {delete_tree_current_user, registered_application_key, none, none},
    {delete_value_current_user, L"Software\\RegisteredApplications", application_name, none},
};
// clang-format on

void apply(const registry_row& row, const registry_values& values)
{
    const wchar_t* key = row.key.resolve(values);
    switch (row.operation) {
        case create:
            create_reg_key(key, row.name.resolve(values), row.data.resolve(values));
            break;
        case delete_tree_local_machine:
            delete_key_and_subkeys_from_hkey_local_machine(key);
            break;
        case delete_tree_current_user:
            delete_key_and_subkeys_from_hkey_current_user(key);
            break;
        case delete_key_current_user:
            delete_key_from_hkey_current_user(key);
            break;
        case delete_value_current_user:
            delete_value_from_hkey_current_user(key, row.name.resolve(values));
            break;
    }
}

template <std::size_t count>
void apply_all(const registry_row (&rows)[count], const registry_values& values)
{
    for (const registry_row& row : rows)
        apply(row, values);
}

const wchar_t* or_null(const std::optional<std::wstring>& text)
{
    return text ? text->c_str() : L"(null)";
}

// The version as it is, whatever the program's manifest declares; the update
// build revision is only in the registry.
windows_version running_windows_version()
{
    windows_version version;
    using get_version = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
        auto rtl_get_version =
            reinterpret_cast<get_version>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
        if (rtl_get_version && rtl_get_version(&info) == 0)
            version = {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
    }
    DWORD update = 0;
    DWORD size = sizeof(update);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"UBR", RRF_RT_REG_DWORD,
                     nullptr, &update, &size) == ERROR_SUCCESS)
        version.update = update;
    return version;
}

std::string control_panel_step(unsigned long process_id)
{
    return process_id != 0 ? "the user chooses Ostrilo on the Default Programs page of the Control Panel"
                           : "the Default Programs page of the Control Panel could not be opened";
}

// "major.minor.build", and ".update" where there is one, for the events.
std::string windows_version_text()
{
    const windows_version version = running_windows_version();
    std::string text = format_unbounded("%lu.%lu.%lu", version.major, version.minor, version.build);
    return version.update != 0 ? text + "." + std::to_string(version.update) : text;
}

// settings_page=1: the page of Settings that fits this Windows, or the
// Control Panel page where Settings has none. Gives the page, in English.
std::string launch_default_apps_page(run_context& run)
{
    const windows_version version = running_windows_version();
    const default_apps_page page = default_apps_page_for(version);
    const std::string name = wide_to_utf8(get_application_name(run)).value_or("");
    const std::string uri = default_apps_uri(page, name);
    LOG_OSTRILO(LOG_DEBUG, default_apps_record(page), version.major, version.minor, version.build, version.update,
                uri.c_str());
    if (page == default_apps_page::control_panel)
        return control_panel_step(launch_control_panel_default_programs(run));
    if (!run.com)
        run.com = initialize_com(COINIT_APARTMENTTHREADED);
    const std::wstring file = utf8_to_wide(uri).value_or(L"");
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    const bool opened = ShellExecuteExW(&info);
    if (!opened)
        LOG_OSTRILO(LOG_ERROR, "Failed to open Settings: <%s> (error %lu)", uri.c_str(), GetLastError());
    return (opened ? "the user chooses Ostrilo in Settings: " : "Settings could not be opened: ") + uri;
}

// The question that the command at logon leaves for later: Windows runs a
// RunOnce value of the user once, when Explorer starts the desktop, and
// deletes it before it runs it. The application name the user was asked to
// choose is noted, so that the command at logon (again after an upgrade)
// does not ask again for the same name, whatever the user chose.
constexpr wchar_t run_once_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t run_once_value[] = L"Ostrilo default browser";
constexpr wchar_t asked_key[] = L"Software\\Ostrilo";
constexpr wchar_t asked_value[] = L"default_browser_asked";

std::wstring read_user_string(const wchar_t* key, const wchar_t* name)
{
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return {};
    return buffer;
}

// Both link types open with Ostrilo's ProgIds, by the user's choice (and by
// the choice Windows 11 may keep beside it).
bool opens_http_and_https()
{
    for (const browser_association& link : browser_associations) {
        if (link.identifier[0] == L'.')
            continue;
        const std::wstring key =
            std::wstring(L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\") + link.identifier;
        const std::wstring latest = read_user_string((key + L"\\UserChoiceLatest").c_str(), L"ProgId");
        if (_wcsicmp(read_user_string((key + L"\\UserChoice").c_str(), L"ProgId").c_str(), link.prog_id) != 0 ||
            (!latest.empty() && _wcsicmp(latest.c_str(), link.prog_id) != 0))
            return false;
    }
    return true;
}

bool default_browser_prompt_wanted(run_context& run)
{
    if (get_default_browser_prompt(run) == 0) {
        LOG_OSTRILO(LOG_DEBUG, "default_browser_prompt=0: the user is not asked to choose the default browser");
        return false;
    }
    if (opens_http_and_https()) {
        LOG_OSTRILO(LOG_DEBUG,
                    "http and https open with Ostrilo already: the user is not asked to choose the default browser");
        return false;
    }
    return true;
}

// Windows 8 and newer keep the per-user choice to the user: it can only be
// offered, on the Default Programs page or in Settings.
// Gives the step taken, in English, for the events.
std::string open_default_programs_page(run_context& run)
{
    if (get_settings_page(run) == 1)
        return launch_default_apps_page(run);
    return control_panel_step(launch_control_panel_default_programs(run));
}

// Gives the step taken, in English, for the events.
std::string arrange_default_browser_prompt(run_context& run, const std::wstring& program_path)
{
    LOG_OSTRILO(LOG_DEBUG, "Windows version is 8 or newer. At logon no window is shown.");
    if (!default_browser_prompt_wanted(run))
        return "at logon, the user is not asked to choose the default browser";
    const std::wstring name = get_application_name(run);
    if (read_user_string(asked_key, asked_value) == name) {
        LOG_OSTRILO(LOG_DEBUG, "The user was asked to choose %ls already: not asking again", name.c_str());
        return "at logon, the user is not asked again to choose the default browser";
    }
    const std::wstring command = L"\"" + program_path + L"\" -choosedefault";
    LOG_OSTRILO(LOG_DEBUG, "Asking the user to choose the default browser once the desktop has started: <%ls>",
                command.c_str());
    create_reg_key(run_once_key, run_once_value, command.c_str());
    return "the user chooses the default browser once the desktop has started";
}

bool windows_8_or_newer()
{
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 2;
    version.wServicePackMajor = 0;
    ULONGLONG condition = 0;
    condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
    condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
    condition = VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, condition);
}

// At logon the notification is not waited for: Explorer, which would
// receive it, is still starting, and it waits for this program.
void notify_shell_of_association_change(registration_mode mode)
{
    SHChangeNotify(SHCNE_ASSOCCHANGED,
                   SHCNF_DWORD | (mode == registration_mode::at_logon ? SHCNF_FLUSHNOWAIT : SHCNF_FLUSH), nullptr,
                   nullptr);
}

}  // namespace

std::optional<std::wstring> get_own_module_filename()
{
    LOG_ENVIRONMENT(LOG_TRACE, "Get filename of (currently running) ostrilo");
    std::wstring buffer(4096, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
        LOG_ENVIRONMENT(LOG_ERROR, "Failed to read filename");
        return std::nullopt;
    }
    buffer.resize(length < buffer.size() ? length : buffer.size() - 1);
    return buffer;
}

std::wstring get_application_name(run_context& run)
{
    std::string product = get_product_name(run);
    return format_wide_bounded(product.size() + 64, L"Feldrun %hs Browserweiche", product.c_str());
}

std::wstring get_application_description(run_context& run)
{
    std::string product = get_product_name(run);
    return format_wide_bounded(product.size() + 64, L"\u00D6ffnet Links im %hs Viewer oder im lokalen Browser.",
                               product.c_str());
}

std::optional<std::string> get_control_panel_path()
{
    char system_folder[MAX_PATH] = {};
    UINT length = GetSystemDirectoryA(system_folder, sizeof(system_folder));
    if (length == 0 || length >= sizeof(system_folder))
        return std::nullopt;
    return find_file_in_folder(system_folder, "control.exe");
}

unsigned long launch_control_panel_default_programs(run_context& run)
{
    LOG_OSTRILO(LOG_DEBUG, "launch_control_panel_default_programs()");
    std::optional<std::string> control_panel = get_control_panel_path();
    if (!control_panel)
        return 0;
    std::string name =
        replace_all(format_unbounded("Feldrun %s Browserweiche", get_product_name(run).c_str()), " ", "%20");
    std::string arguments = format_bounded(
        name.size() + 91,
        " /name Microsoft.DefaultPrograms /page pageDefaultProgram\\pageAdvancedSettings?pszAppName=%s", name.c_str());
    std::string command = *control_panel + arguments;
    LOG_OSTRILO(LOG_DEBUG, "Calling: <%s>", command.c_str());
    // An empty title, not none: the Control Panel shows in its default way.
    unsigned long process_id = start_child_program(run, command, std::string(), false, std::nullopt);
    if (process_id == 0)
        LOG_OSTRILO(LOG_ERROR, "Failed to launch Windows Control Panel");
    return process_id;
}

void force_default_browser(run_context& run, const std::wstring& open_command, const std::wstring& application_icon)
{
    LOG_OSTRILO(LOG_DEBUG, "Pre-Windows 8.1. Forcing setting Feldrun as default browser.");
    registry_values values;
    values.open_command = open_command;
    values.application_icon = application_icon;
    apply_all(forced_default_rows, values);
    if (!get_lotus_notes_html_workaround(run)) {
        LOG_OSTRILO(LOG_DEBUG, "lotus_notes_html_workaround is false (or not set at all)");
        return;
    }
    LOG_OSTRILO(LOG_DEBUG, "lotus_notes_html_workaround is true");
    apply_all(html_workaround_rows, values);
}

std::string set_default_browser(run_context& run, const std::wstring& open_command,
                                const std::wstring& application_icon)
{
    if (windows_8_or_newer()) {
        LOG_OSTRILO(LOG_DEBUG,
                    "Windows version is 8 or newer. Launching settings so that the user can set Feldrun as default "
                    "browser manually.");
        return open_default_programs_page(run);
    }
    LOG_OSTRILO(LOG_DEBUG, "Windows version is 7 or older. Force-setting Feldrun as default browser.");
    force_default_browser(run, open_command, application_icon);
    return "made the default for http and https (Windows 7 and older)";
}

void set_ostrilo_registry(run_context& run, registration_mode mode)
{
    LOG_OSTRILO(LOG_DEBUG, "set_ostrilo_registry()");
    std::optional<std::wstring> own_path = get_own_module_filename();
    LOG_OSTRILO(LOG_TRACE, "ostrilo filename: %ls", or_null(own_path));
    if (!own_path)
        own_path = wc_get_installpath_subfile(run, L"Ostrilo.exe");
    if (!own_path) {
        LOG_OSTRILO(LOG_WARN, "I did not find Ostrilo.exe, I do not set registry entries.");
        LOG_OSTRILO(LOG_TRACE, "returning from set_ostrilo_registry()");
        return;
    }

    registry_values values;
    values.program_path = *own_path;
    print_to_stdout("Ostrilo.exe found in %ls, setting registry entries.", values.program_path.c_str());
    LOG_OSTRILO(LOG_TRACE, "Ostrilo.exe found in %ls, setting registry entries.", values.program_path.c_str());
    values.open_command = get_open_command(run, values.program_path);

    std::optional<std::wstring> viewer_path = wc_get_installpath_subfile(run, L"vncviewer.exe");
    LOG_OSTRILO(LOG_TRACE, "viewer_path: <%ls>", or_null(viewer_path));
    const std::wstring& icon_file = viewer_path ? *viewer_path : values.program_path;
    LOG_OSTRILO(LOG_TRACE, "path: <%ls>", icon_file.c_str());
    values.application_icon = format_wide_bounded(icon_file.size() + 3, L"%ls,0", icon_file.c_str());
    LOG_OSTRILO(LOG_TRACE, "sw_icon: <%ls>", values.application_icon.c_str());

    values.application_name = get_application_name(run);
    LOG_OSTRILO(LOG_TRACE, "sw_name: <%ls>", values.application_name.c_str());
    values.application_description = get_application_description(run);
    LOG_OSTRILO(LOG_TRACE, "sw_description: <%ls>", values.application_description.c_str());

    // With Internet Explorer as the default, a per-user .html class would
    // send internal links to another browser.
    std::string http_choice = read_reg_string(
        "Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice", "ProgId");
    if (find_ignoring_case(http_choice, "IE.HTTP")) {
        LOG_OSTRILO(LOG_DEBUG,
                    "IE is set as standard browser. Deleting HKEY_CURRENT_USER\\Software\\Classes\\.html IF it exists "
                    "to make sure no other browser opens the internal links.");
        delete_key_and_subkeys_from_hkey_current_user(L"Software\\Classes\\.html");
    } else {
        LOG_OSTRILO(LOG_DEBUG,
                    "IE is *not* set as standard browser. Not deleting HKEY_CURRENT_USER\\Software\\Classes\\.html "
                    "(this key contains the browser that should be used to open internal links).");
    }

    apply_all(registration_rows, values);
    const std::string step = mode == registration_mode::at_logon && windows_8_or_newer()
                                 ? arrange_default_browser_prompt(run, values.program_path)
                                 : set_default_browser(run, values.open_command, values.application_icon);

    LOG_OSTRILO(LOG_TRACE, "freeing sw_path now");
    LOG_OSTRILO(LOG_DEBUG, "Send SHChangeNotify now");
    notify_shell_of_association_change(mode);
    if (event_wanted(event_kind::registered))  // the version is read for the event alone
        write_event<event_kind::registered>(values.open_command, windows_version_text(), step);
    LOG_OSTRILO(LOG_TRACE, "returning from set_ostrilo_registry()");
}

void ask_for_default_browser(run_context& run)
{
    LOG_OSTRILO(LOG_DEBUG, "ask_for_default_browser()");
    if (!default_browser_prompt_wanted(run))
        return;
    open_default_programs_page(run);
    const std::wstring name = get_application_name(run);
    create_reg_key(asked_key, asked_value, name.c_str());
}

void reset_ostrilo_registry(run_context& run)
{
    LOG_OSTRILO(LOG_DEBUG, "%s: removing Ostrilo registry entries for current user", "reset_ostrilo_registry");
    registry_values values;
    values.application_name = get_application_name(run);
    // The key path is kept within a buffer of 4096 bytes.
    values.registered_application_key = format_wide_bounded(
        4096 / sizeof(wchar_t), L"Software\\RegisteredApplications\\%ls", values.application_name.c_str());
    apply_all(removal_rows, values);
    // A question still to come, and the note of one asked, go with the
    // registration; a run without them writes what it wrote before.
    for (const auto& [key, name] : {std::pair{run_once_key, run_once_value}, std::pair{asked_key, asked_value}})
        if (!read_user_string(key, name).empty())
            delete_value_from_hkey_current_user(key, name);
    LOG_OSTRILO(LOG_DEBUG,
                "Done! Sending SHChangeNotify (this tells Windows that there's been a change in some standard program "
                "and Windows sets it to its default.)");
    notify_shell_of_association_change(registration_mode::by_hand);
    if (event_wanted(event_kind::unregistered))
        write_event<event_kind::unregistered>(values.application_name, windows_version_text());
}
