// The MSI as an administrator uses it: a silent installation with Wine's
// msiexec, what it leaves for the installing user and for users who log on
// later, a link opened through the registered command, and a silent removal
// that leaves the machine and the user as they were.
#include "registry_guard.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

const HKEY user = HKEY_CURRENT_USER;
const HKEY machine = HKEY_LOCAL_MACHINE;
const std::wstring active_setup =
    L"Software\\Microsoft\\Active Setup\\Installed Components\\{FA6B7EF9-4651-42E3-9347-6136F633F86A}";

using key_list = std::vector<std::pair<HKEY, std::wstring>>;

// What Windows Installer keeps about installed products, the Active Setup
// entry and the remembered installation folder.
const key_list product_state = {{machine, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
                                {machine, L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer"},
                                {machine, L"Software\\Classes\\Installer"},
                                {user, L"Software\\Microsoft\\Installer"},
                                {machine, active_setup},
                                {machine, L"Software\\Ostrilo"}};
// Windows Installer's own keys, which Windows has from its setup on and which
// stay when the last product goes. Wine's msiexec creates them at its first
// installation in a prefix and, like Windows, keeps them (empty) afterwards;
// they are made beforehand so that the comparison sees only what a package
// leaves, as on Windows.
const key_list installer_containers = {
    {machine, L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes"},
    {machine, L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components"},
    {machine, L"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products"},
    {machine, L"Software\\Classes\\Installer\\Features"},
    {machine, L"Software\\Classes\\Installer\\Products"},
    {machine, L"Software\\Classes\\Installer\\UpgradeCodes"}};
// What -setregistry writes for the current user (on Windows 7, as set below).
const key_list registration = {{user, L"Software\\Classes\\NB.HTML"},
                               {user, L"Software\\Classes\\NB.HTTP"},
                               {user, L"Software\\Classes\\NB.HTTPS"},
                               {user, L"Software\\Classes\\http"},
                               {user, L"Software\\Classes\\https"},
                               {user, L"Software\\Clients\\StartMenuInternet"},
                               {user, L"Software\\RegisteredApplications"},
                               {user, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ostrilo.exe"},
                               {user, L"Software\\Microsoft\\Windows\\Shell\\Associations"}};
// What -resetregistry removes.
const wchar_t* const removed[] = {L"Software\\Classes\\NB.HTML", L"Software\\Classes\\NB.HTTP",
                                  L"Software\\Classes\\NB.HTTPS", L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE"};

std::vector<std::optional<registry_tree>> read_trees(const key_list& keys)
{
    std::vector<std::optional<registry_tree>> trees;
    for (const auto& [root, path] : keys)
        trees.push_back(read_tree(root, path));
    return trees;
}

std::set<std::wstring> installer_cache()
{
    std::set<std::wstring> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(L"C:\\windows\\Installer", error))
        names.insert(entry.path().filename().wstring());
    return names;
}

// The program's file version in the form Active Setup compares: "1,0,0,0".
std::wstring comma_version(const std::wstring& program)
{
    DWORD ignored = 0;
    std::vector<BYTE> data(GetFileVersionInfoSizeW(program.c_str(), &ignored));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT size = 0;
    if (data.empty() || !GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &size))
        return L"";
    const DWORD high = info->dwFileVersionMS, low = info->dwFileVersionLS;
    return std::to_wstring(HIWORD(high)) + L"," + std::to_wstring(LOWORD(high)) + L"," + std::to_wstring(HIWORD(low)) +
           L"," + std::to_wstring(LOWORD(low));
}

std::wstring registry_text(HKEY root, const std::wstring& path, const wchar_t* name)
{
    wchar_t text[4096] = L"";
    DWORD size = sizeof(text);
    RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size);
    return text;
}

// Removes the product when a check stopped the test half-way.
struct removal_at_end {
    const sandbox& box;
    std::wstring command;
    std::wstring program;
    ~removal_at_end()
    {
        if (path_exists(program))
            box.run_command_line(command, 300000);
    }
};

struct install_case {
    const char* what;
    bool own_folders;       // INSTALLDIR and CONFIGDIR in the sandbox; else the default folder, no CONFIGDIR
    const char* rules;      // the rule file in the CONFIGDIR folder
    DWORD link_exit;        // exit status of the registered command for a link
    const wchar_t* link_box;  // the box it shows, or nullptr
};

TEST(Install, SilentInstallRegistersEveryoneAndSilentRemovalLeavesNothing)
{
    const install_case cases[] = {
        {"default folder", false, nullptr, 0, L"Der Corvane-Pro Viewer wurde leider nicht gefunden."},
        {"INSTALLDIR and CONFIGDIR", true, "links.example/*|elsewhere\r\n", 1, nullptr},
    };
    const std::wstring bin = bin_folder();
    const std::wstring msi = bin.substr(0, bin.find_last_of(L'\\')) + L"\\dist\\" + OSTRILO_MSI_NAME;
    const bool with_admin = path_exists(bin + L"\\ostrilo-admin.exe");
    for (const install_case& c : cases) {
        registration_keys_guard registry;
        registry_guard state(product_state);
        scoped_windows_version version(L"win7");
        sandbox box;
        const std::wstring folder =
            c.own_folders ? box.root + L"\\Ostrilo Programs" : real_program_files() + L"\\Corvane-Pro";
        const std::wstring configdir = box.root + L"\\config";
        const std::wstring program = folder + L"\\Ostrilo.exe";
        const std::wstring configdir_suffix = c.own_folders ? L" -configdir \"" + configdir + L"\"" : L"";
        ASSERT_FALSE(path_exists(folder)) << c.what << ": left behind by an earlier run";
        if (c.rules) {
            make_folders(configdir);
            write_file(configdir + L"\\url whitelist.txt", c.rules);
        }
        for (const auto& [root, path] : installer_containers)
            ASSERT_TRUE(open_key(root, path, true)) << narrow(path);
        const auto state_before = read_trees(product_state);
        const auto cache_before = installer_cache();
        const std::wstring properties =
            c.own_folders ? L" INSTALLDIR=\"" + folder + L"\" CONFIGDIR=\"" + configdir + L"\"" : L"";
        removal_at_end removal{box, L"msiexec /x \"" + msi + L"\" /qn", program};

        run_result install = box.run_command_line(L"msiexec /i \"" + msi + L"\" /qn" + properties, 300000);
        ASSERT_EQ(install.exit_code, 0u) << c.what;
        EXPECT_TRUE(path_exists(program)) << c.what;
        EXPECT_EQ(path_exists(folder + L"\\ostrilo-admin.exe"), with_admin) << c.what;
        registry_tree expected_active_setup;
        expected_active_setup.values = {
            {L"", string_value(L"Ostrilo browser registration")},
            {L"StubPath", string_value(L"\"" + program + L"\" -setregistry" + configdir_suffix)},
            {L"Version", string_value(comma_version(program))},
            {L"IsInstalled", {REG_DWORD, {1, 0, 0, 0}}}};
        EXPECT_EQ(read_tree(machine, active_setup), expected_active_setup) << c.what;

        // The installing user is registered as -setregistry of the installed program registers.
        const std::wstring command_key = L"Software\\Classes\\NB.HTTP\\shell\\open\\command";
        std::wstring open_command = registry_text(user, command_key, nullptr);
        EXPECT_EQ(open_command, L"\"" + program + L"\" -url \"%1\"" + configdir_suffix) << c.what;
        const auto installed = read_trees(registration);
        EXPECT_EQ(box.run_command_line(L"\"" + program + L"\" -resetregistry").exit_code, 0u);
        EXPECT_EQ(box.run_command_line(L"\"" + program + L"\" -setregistry" + configdir_suffix).exit_code, 0u);
        EXPECT_EQ(read_trees(registration), installed) << c.what;

        // A link opened as Windows opens it, with the registered command.
        open_command.replace(open_command.find(L"%1"), 2, L"https://links.example/page");
        run_result link = box.run_command_line(open_command);
        EXPECT_EQ(link.exit_code, c.link_exit) << c.what;
        ASSERT_EQ(link.boxes.size(), c.link_box ? 1u : 0u) << c.what;
        EXPECT_TRUE(!c.link_box || link.boxes[0].text == c.link_box) << c.what;

        run_result removal_run = box.run_command_line(L"msiexec /x \"" + msi + L"\" /qn", 300000);
        EXPECT_EQ(removal_run.exit_code, 0u) << c.what;
        EXPECT_FALSE(path_exists(folder)) << c.what;
        for (const wchar_t* key : removed)
            EXPECT_FALSE(open_key(user, key)) << c.what << ": " << narrow(key);
        EXPECT_EQ(read_trees(product_state), state_before) << c.what;
        EXPECT_EQ(installer_cache(), cache_before) << c.what;
    }
}

}  // namespace
