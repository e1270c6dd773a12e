// The MSI as an administrator uses it: silent installation with Wine's msiexec, what it leaves for the
// installing user and for users who log on later, and silent removal that leaves nothing behind.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace std::string_literals;

const std::string active_setup =
    "Software\\Microsoft\\Active Setup\\Installed Components\\{FA6B7EF9-4651-42E3-9347-6136F633F86A}";

// The values below the keys, one per line (Wine's msiexec leaves empty keys behind).
std::string values(HKEY root, const std::vector<std::string>& keys)
{
    std::set<std::string> lines;
    for (const std::string& key : keys)
        registry_dump(root, widen(key), lines);
    std::string text;
    for (const std::string& line : lines)
        text += line.find(" [") == std::string::npos ? "" : line + "\n";
    return text;
}

// The machine-wide rows of MACHINEREGISTRATION=1; under HKEY_CURRENT_USER, the user's registration.
const std::vector<std::string> machine_registration = {
    "Software\\Classes\\NB.HTML", "Software\\Classes\\NB.HTTP", "Software\\Classes\\NB.HTTPS",
    "Software\\Clients\\StartMenuInternet\\OSTRILO.EXE", "Software\\RegisteredApplications"};

// The source of the events in the Application log.
const std::string event_source = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Ostrilo";

// What Windows Installer keeps about installed products, the Active Setup entry, the remembered
// installation folder, and the installer cache.
std::string machine_state()
{
    std::string text = values(HKEY_CURRENT_USER, {"Software\\Microsoft\\Installer"}) +
                       values(HKEY_LOCAL_MACHINE, {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                                                   "Software\\Microsoft\\Windows\\CurrentVersion\\Installer",
                                                   "Software\\Classes\\Installer", active_setup, "Software\\Ostrilo"});
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(L"C:\\windows\\Installer", error))
        text += narrow(entry.path().filename().wstring()) + "\n";
    return text;
}

TEST(Install, SilentInstallRegistersEveryoneAndSilentRemovalLeavesNothing)
{
    const std::wstring bin = bin_folder(), name = OSTRILO_MSI_NAME;
    const std::wstring msi = bin.substr(0, bin.find_last_of(L'\\')) + L"\\dist\\" + name;
    // Active Setup compares the version of "Ostrilo-1.0.0-x64.msi" as "1,0,0,0".
    std::string version = narrow(name.substr(8, name.rfind(L'-') - 8)) + ".0";
    std::replace(version.begin(), version.end(), '.', ',');
    for (const bool own_folders : {false, true}) {
        SCOPED_TRACE(own_folders ? "INSTALLDIR, CONFIGDIR, MACHINEREGISTRATION=1" : "default folder");
        clean_registry registry(L"win7");
        sandbox box;
        const std::wstring folder =
            own_folders ? box.root + L"\\Ostrilo Programs" : real_program_files() + L"\\Corvane-Pro";
        const std::wstring configdir = box.root + L"\\config", program = folder + L"\\Ostrilo.exe";
        const std::wstring suffix = own_folders ? L" -configdir \"" + configdir + L"\"" : L"";
        const std::string before = machine_state();
        write_file(box.appdata + L"\\vnc\\kvix.vnc", "ProductName=Acme Remote\r\n");  // the product -setregistry names
        const std::wstring properties = own_folders ? L" INSTALLDIR=\"" + folder + L"\" CONFIGDIR=\"" + configdir +
                                                          L"\" MACHINEREGISTRATION=1 PRODUCT_NAME=\"Acme Remote\" "
                                                          L"DEFAULT_BROWSER_PROMPT=0"
                                                    : L"";
        EXPECT_EQ(box.run_command_line(L"msiexec /i \"" + msi + L"\" /qn" + properties, 300).exit_code, 0u);
        EXPECT_EQ(path_exists(folder + L"\\ostrilo-admin.exe"), path_exists(bin + L"\\ostrilo-admin.exe"));
        EXPECT_TRUE(path_exists(folder + L"\\THIRD-PARTY-NOTICES.txt"));
        const std::string key = active_setup + " [",
                          stub = narrow(L"\"" + program + L"\" -setregistry -atlogon" + suffix);
        EXPECT_EQ(values(HKEY_LOCAL_MACHINE, {active_setup}),
                  key + "IsInstalled]=\x01\0 (type 4, 4 bytes)\n"s + key + "StubPath]=" + stub + "\n" + key +
                      "Version]=" + version + "\n" + key + "]=Ostrilo browser registration\n");

        // The installing user is registered as the StubPath registers a user who logs on later.
        const std::string installed = values(HKEY_CURRENT_USER, registration_tops);
        EXPECT_EQ(box.run_command_line(widen(stub)).exit_code, 0u);
        // DEFAULT_BROWSER_PROMPT, where the key reads it (not given: empty, which counts as not set).
        EXPECT_NE(values(HKEY_LOCAL_MACHINE, {"Software\\Ostrilo"})
                      .find("Software\\Ostrilo [default_browser_prompt]=" + std::string(own_folders ? "0" : "") + "\n"),
                  std::string::npos);
        EXPECT_EQ(values(HKEY_CURRENT_USER, registration_tops), installed);
        // The machine-wide rows are the user's, value for value (Wine's HKLM holds no other application).
        EXPECT_EQ(values(HKEY_LOCAL_MACHINE, machine_registration),
                  own_folders ? values(HKEY_CURRENT_USER, machine_registration) : "");
        EXPECT_NE(values(HKEY_CURRENT_USER, machine_registration).find("Feldrun Acme Remote"), std::string::npos);
        EXPECT_EQ(values(HKEY_LOCAL_MACHINE, {event_source}),
                  event_source + " [EventMessageFile]=" + narrow(program) + "\0 (type 2, "s +
                      std::to_string(program.size() * 2 + 2) + " bytes)\n" + event_source +
                      " [TypesSupported]=\x07\0 (type 4, 4 bytes)\n"s);

        EXPECT_EQ(box.run_command_line(L"msiexec /x \"" + msi + L"\" /qn", 300).exit_code, 0u);
        EXPECT_FALSE(path_exists(folder));
        EXPECT_EQ(values(HKEY_CURRENT_USER, {"Software\\Classes\\NB.HTTP"}), "");  // the user's registration
        EXPECT_EQ(machine_state(), before);
        EXPECT_EQ(values(HKEY_LOCAL_MACHINE, machine_registration), "");
        std::set<std::string> source_left;  // the key itself goes too
        registry_dump(HKEY_LOCAL_MACHINE, widen(event_source), source_left);
        EXPECT_TRUE(source_left.empty());
    }
}

}  // namespace
