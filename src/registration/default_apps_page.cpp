// settings_page=1: the Windows builds that open an application's own Default
// apps page, and the page each version gets. Text in, text out; no Win32.
#include "default_apps_page.h"

#include <iterator>

namespace {

// Windows 11 takes ms-settings:defaultapps?registeredAppUser= from these
// builds with these updates on; every later build takes it too. Builds of
// Windows 11 not listed and older than the last row (previews) get the list.
struct application_page_build {
    unsigned long build;
    unsigned long first_update;
};

constexpr application_page_build application_page_builds[] = {
    {22000, 1817},  // 21H2
    {22621, 1555},  // 22H2; 23H2 (22631) and later come after it
};

struct page_row {
    default_apps_page page;
    const char* uri;
    const char* record;
};

constexpr page_row page_rows[] = {
    {default_apps_page::control_panel, "",
     "settings_page: Windows %lu.%lu build %lu.%lu has no Default apps page in Settings; opening the Control Panel "
     "page%s"},
    {default_apps_page::settings_list, "ms-settings:defaultapps",
     "settings_page: Windows %lu.%lu build %lu.%lu: opening the Default apps list of Settings: <%s>"},
    {default_apps_page::application_page, "ms-settings:defaultapps?registeredAppUser=",
     "settings_page: Windows %lu.%lu build %lu.%lu: opening the Default apps page of this application: <%s>"},
};

const page_row& row_of(default_apps_page page)
{
    for (const page_row& row : page_rows)
        if (row.page == page)
            return row;
    return page_rows[0];
}

bool takes_application_page(const windows_version& version)
{
    if (version.build > application_page_builds[std::size(application_page_builds) - 1].build)
        return true;
    for (const application_page_build& row : application_page_builds)
        if (version.build == row.build)
            return version.update >= row.first_update;
    return false;
}

bool unreserved(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

}  // namespace

default_apps_page default_apps_page_for(const windows_version& version)
{
    if (version.major < 10)
        return default_apps_page::control_panel;
    if (takes_application_page(version))
        return default_apps_page::application_page;
    return default_apps_page::settings_list;
}

std::string default_apps_uri(default_apps_page page, std::string_view registered_name)
{
    std::string uri = row_of(page).uri;
    if (page != default_apps_page::application_page)
        return uri;
    static constexpr char hex_digits[] = "0123456789ABCDEF";
    for (const char c : registered_name) {
        const auto byte = static_cast<unsigned char>(c);
        if (unreserved(byte)) {
            uri += c;
        } else {
            uri += '%';
            uri += hex_digits[byte >> 4];
            uri += hex_digits[byte & 0x0f];
        }
    }
    return uri;
}

const char* default_apps_record(default_apps_page page)
{
    return row_of(page).record;
}
