// settings_page=1: which page -setregistry opens on Windows 8 and newer so
// that the user can choose Ostrilo, decided from the Windows version alone.
#pragma once

#include <string>
#include <string_view>

struct windows_version {
    unsigned long major = 0, minor = 0, build = 0;
    unsigned long update = 0;  // the update build revision (the ".1817" of 22000.1817)
};

enum class default_apps_page {
    control_panel,    // Windows 8 and 8.1: the Default Programs page, as without the key
    settings_list,    // Windows 10 and 11: the Default apps list of Settings
    application_page  // Windows 11 from the builds that take registeredAppUser: the application's own page
};

default_apps_page default_apps_page_for(const windows_version& version);

// The Settings URI of the page ("" for the Control Panel); registered_name is
// the value name under HKCU\Software\RegisteredApplications, UTF-8, and goes
// into the URI percent-encoded.
std::string default_apps_uri(default_apps_page page, std::string_view registered_name);

// The DEBUG record's text for the page, a printf format taking the version as
// four %lu and then the URI as %s.
const char* default_apps_record(default_apps_page page);
