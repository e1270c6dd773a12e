// The MSI as an administrator uses it: a silent installation with Wine's
// msiexec, what it leaves for the installing user and for users who log on
// later, a link opened through the registered command, and a silent removal
// that leaves the machine and the user as they were.
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
using namespace std::string_literals;

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
// What -resetregistry removes.
const wchar_t* const removed[] = {L"Software\\Classes\\NB.HTML", L"Software\\Classes\\NB.HTTP",
                                  L"Software\\Classes\\NB.HTTPS", L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE"};

// The lines of the keys; with `values_only`, only the values (Wine's msiexec
// leaves empty keys behind).
std::set<std::string> dump(const key_list& keys, bool values_only = false)
{
    std::set<std::string> lines, values;
    for (const auto& [root, path] : keys)
        registry_dump(root, path, lines);
    for (const std::string& line : lines)
        if (line.find(" [") != std::string::npos)
            values.insert(line);
    return values_only ? values : lines;
}

key_list registration()
{
    key_list keys;
    for (const std::string& top : registration_tops)
        keys.push_back({user, widen(top)});
    return keys;
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

// Removes the product when a check stopped the test half-way.
struct removal_at_end {
    const sandbox& box;
    std::wstring command;
    std::wstring program;
    ~removal_at_end()
    {
        if (path_exists(program))
            box.run_command_line(command, 300);
    }
};

TEST(Install, SilentInstallRegistersEveryoneAndSilentRemovalLeavesNothing)
{
    const struct {
        const char* what;
        bool own_folders;         // INSTALLDIR and CONFIGDIR in the sandbox; else the default folder, no CONFIGDIR
        const char* rules;        // the rule file in the CONFIGDIR folder
        DWORD link_exit;          // exit status of the registered command for a link
        const wchar_t* link_box;  // the box it shows, or nullptr
    } cases[] = {
        {"default folder", false, nullptr, 0, L"Der Corvane-Pro Viewer wurde leider nicht gefunden."},
        {"INSTALLDIR and CONFIGDIR", true, "links.example/*|elsewhere\r\n", 1, nullptr},
    };
    const std::wstring bin = bin_folder();
    const std::wstring msi = bin.substr(0, bin.find_last_of(L'\\')) + L"\\dist\\" + OSTRILO_MSI_NAME;
    const bool with_admin = path_exists(bin + L"\\ostrilo-admin.exe");
    for (const auto& c : cases) {
        clean_registry registry(L"win7");
        sandbox box;
        const std::wstring folder =
            c.own_folders ? box.root + L"\\Ostrilo Programs" : real_program_files() + L"\\Corvane-Pro";
        const std::wstring configdir = box.root + L"\\config";
        const std::wstring program = folder + L"\\Ostrilo.exe";
        const std::wstring configdir_suffix = c.own_folders ? L" -configdir \"" + configdir + L"\"" : L"";
        ASSERT_FALSE(path_exists(folder)) << c.what << ": left behind by an earlier run";
        if (c.rules) {
            write_file(configdir + L"\\url whitelist.txt", c.rules);
        }
        const auto state_before = dump(product_state, true);
        const auto cache_before = installer_cache();
        const std::wstring properties =
            c.own_folders ? L" INSTALLDIR=\"" + folder + L"\" CONFIGDIR=\"" + configdir + L"\"" : L"";
        removal_at_end removal{box, L"msiexec /x \"" + msi + L"\" /qn", program};

        run_result install = box.run_command_line(L"msiexec /i \"" + msi + L"\" /qn" + properties, 300);
        ASSERT_EQ(install.exit_code, 0u) << c.what;
        EXPECT_TRUE(path_exists(program)) << c.what;
        EXPECT_EQ(path_exists(folder + L"\\ostrilo-admin.exe"), with_admin) << c.what;
        const std::string key = narrow(active_setup);
        EXPECT_EQ(dump({{machine, active_setup}}),
                  (std::set<std::string>{
                      key, key + " []=Ostrilo browser registration",
                      key + " [StubPath]=\"" + narrow(program) + "\" -setregistry" + narrow(configdir_suffix),
                      key + " [Version]=" + narrow(comma_version(program)),
                      key + " [IsInstalled]=\x01\0 (type 4, 4 bytes)"s}));

        // The installing user is registered as -setregistry of the installed program registers.
        const std::string command_key = "Software\\Classes\\NB.HTTP\\shell\\open\\command";
        const std::set<std::string> command = dump({{user, widen(command_key)}}, true);
        std::wstring open_command = L"\"" + program + L"\" -url \"%1\"" + configdir_suffix;
        EXPECT_EQ(command, std::set<std::string>{command_key + " []=" + narrow(open_command)}) << c.what;
        const auto installed = dump(registration());
        EXPECT_EQ(box.run_command_line(L"\"" + program + L"\" -resetregistry").exit_code, 0u);
        EXPECT_EQ(box.run_command_line(L"\"" + program + L"\" -setregistry" + configdir_suffix).exit_code, 0u);
        EXPECT_EQ(dump(registration()), installed) << c.what;

        // A link opened as Windows opens it, with the registered command.
        open_command.replace(open_command.find(L"%1"), 2, L"https://links.example/page");
        run_result link = box.run_command_line(open_command);
        EXPECT_EQ(link.exit_code, c.link_exit) << c.what;
        ASSERT_EQ(link.boxes.size(), c.link_box ? 1u : 0u) << c.what;
        EXPECT_TRUE(!c.link_box || link.boxes[0].text == c.link_box) << c.what;

        run_result removal_run = box.run_command_line(L"msiexec /x \"" + msi + L"\" /qn", 300);
        EXPECT_EQ(removal_run.exit_code, 0u) << c.what;
        EXPECT_FALSE(path_exists(folder)) << c.what;
        for (const wchar_t* key : removed)
            EXPECT_EQ(dump({{user, key}}), std::set<std::string>{}) << c.what << ": " << narrow(key);
        EXPECT_EQ(dump(product_state, true), state_before) << c.what;
        EXPECT_EQ(installer_cache(), cache_before) << c.what;
    }
}

}  // namespace
