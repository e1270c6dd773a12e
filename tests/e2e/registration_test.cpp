// -setregistry, -resetregistry and -unsetregistry as an administrator sees
// them: the registry of the current user read back afterwards, the Control
// Panel start on newer Windows, and the log.
#include "registry_guard.h"
#include "sandbox.h"
#include "standin_calls.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const HKEY user = HKEY_CURRENT_USER;
const HKEY machine = HKEY_LOCAL_MACHINE;
const wchar_t* const registered_applications = L"Software\\RegisteredApplications";
const wchar_t* const html_user_choice =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice";
const wchar_t* const machine_dde[] = {L"Software\\Classes\\http\\shell\\open\\ddeexec",
                                      L"Software\\Classes\\https\\shell\\open\\ddeexec"};

// The key trees that registration and removal touch. Below them the registry
// must hold exactly the expected rows: every key, value, type and byte.
const wchar_t* const tops[] = {
    L"Software\\Classes\\NB.HTML", L"Software\\Classes\\NB.HTTP", L"Software\\Classes\\NB.HTTPS",
    L"Software\\Classes\\http", L"Software\\Classes\\https", L"Software\\Classes\\.html",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ostrilo.exe", L"Software\\Clients\\StartMenuInternet",
    registered_applications, L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html"};

// Each test begins with a user who never registered the program, and the
// registry is put back as it was when the test ends.
struct clean_registry : registration_keys_guard {
    clean_registry()
    {
        for (const wchar_t* top : tops)
            SHDeleteKeyW(user, top);
    }
};

// The values a registration works out, by the names the rows use for them.
using computed_values = std::map<std::wstring, std::wstring>;

computed_values expected_for(const std::wstring& program_path, const std::wstring& configdir_suffix = L"",
                             const std::wstring& icon_file = L"", const std::wstring& product = L"Corvane-Pro")
{
    return {{L"<program path>", program_path},
            {L"<open command>", L"\"" + program_path + L"\" -url \"%1\"" + configdir_suffix},
            {L"<icon>", (icon_file.empty() ? program_path : icon_file) + L",0"},
            {L"<name>", L"Feldrun " + product + L" Browserweiche"},
            {L"<description>", L"\u00D6ffnet Links im " + product + L" Viewer oder im lokalen Browser."}};
}

// One row of the registry: value name "" is the unnamed value; data none
// means the row only makes sure the key exists. Names in angle brackets are
// the values a registration works out.
struct row {
    const wchar_t* key;
    const wchar_t* name;
    const wchar_t* data;
};

const std::vector<row> registration_rows = {
    {L"Software\\Classes\\NB.HTML", L"", L"Ostrilo HTML"},
    {L"Software\\Classes\\NB.HTML", L"FriendlyTypeName", L"Ostrilo HTML"},
    {L"Software\\Classes\\NB.HTML\\shell", L"", L"open"},
    {L"Software\\Classes\\NB.HTML\\shell\\open", L"", nullptr},
    {L"Software\\Classes\\NB.HTML\\shell\\open\\command", L"", L"<open command>"},
    {L"Software\\Classes\\NB.HTML\\shell\\open\\ddexec", L"", nullptr},
    {L"Software\\Classes\\NB.HTML\\DefaultIcon", L"", L"<icon>"},
    {L"Software\\Classes\\NB.HTTP", L"", L"Ostrilo URL"},
    {L"Software\\Classes\\NB.HTTP", L"FriendlyTypeName", L"Ostrilo URL"},
    {L"Software\\Classes\\NB.HTTP", L"URLProtocol", L""},
    {L"Software\\Classes\\NB.HTTP\\shell", L"", L"open"},
    {L"Software\\Classes\\NB.HTTP\\shell\\open", L"", nullptr},
    {L"Software\\Classes\\NB.HTTP\\shell\\open\\command", L"", L"<open command>"},
    {L"Software\\Classes\\NB.HTTP\\DefaultIcon", L"", L"<icon>"},
    {L"Software\\Classes\\NB.HTTPS", L"", L"Ostrilo URL"},
    {L"Software\\Classes\\NB.HTTPS", L"FriendlyTypeName", L"Ostrilo URL"},
    {L"Software\\Classes\\NB.HTTPS", L"URLProtocol", L""},
    {L"Software\\Classes\\NB.HTTPS\\shell", L"", L"open"},
    {L"Software\\Classes\\NB.HTTPS\\shell\\open", L"", nullptr},
    {L"Software\\Classes\\NB.HTTPS\\shell\\open\\command", L"", L"<open command>"},
    {L"Software\\Classes\\NB.HTTPS\\DefaultIcon", L"", L"<icon>"},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ostrilo.exe", L"", L"<program path>"},
    {L"Software\\Clients\\StartMenuInternet", L"", L"OSTRILO.EXE"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE", L"", L"<name>"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities", L"ApplicationDescription", L"<description>"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities", L"ApplicationIcon", L"<icon>"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities", L"ApplicationName", L"<name>"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities\\FileAssociations", L".htm", L"NB.HTML"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities\\FileAssociations", L".html", L"NB.HTML"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities\\URLAssociations", L"http", L"NB.HTTP"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities\\URLAssociations", L"https", L"NB.HTTPS"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\DefaultIcon", L"", L"<icon>"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\shell", L"", nullptr},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\shell\\open", L"", nullptr},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\shell\\open\\command", L"", L"<open command>"},
    {L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\InstallInfo", L"", nullptr},
    {L"Software\\RegisteredApplications", L"<name>", L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities"},
};

// Windows 7 and older: the choices themselves, and the .html rows with the workaround.
const std::vector<row> forced_rows = {
    {L"Software\\Classes\\http\\shell\\open\\command", L"", L"<open command>"},
    {L"Software\\Classes\\http\\DefaultIcon", L"", L"<icon>"},
    {L"Software\\Classes\\https\\shell\\open\\command", L"", L"<open command>"},
    {L"Software\\Classes\\https\\DefaultIcon", L"", L"<icon>"},
    {L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice", L"Progid", L"NB.HTTP"},
    {L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\https\\UserChoice", L"Progid", L"NB.HTTPS"},
};
const std::vector<row> html_workaround_rows = {
    {L"Software\\Classes\\.html", L"", L"NB.HTML"},
    {html_user_choice, L"Progid", L"NB.HTML"},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\OpenWithList", L"a", L"Ostrilo.exe"},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\OpenWithList", L"MRUList", L"a"},
};

std::vector<row> operator+(std::vector<row> first, const std::vector<row>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::wstring expand(const wchar_t* text, const computed_values& values)
{
    auto found = values.find(text);
    return found == values.end() ? std::wstring(text) : found->second;
}

// One line per key and per value, the value with its type and exact bytes.
std::string value_line(const std::string& key, const std::wstring& name, const registry_value& value)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / sizeof(wchar_t));
    return key + " [" + narrow(name) + "] type " + std::to_string(value.type) + ", " +
           std::to_string(value.data.size()) + " bytes: " + narrow(text);
}

void add_lines(const registry_tree& tree, const std::string& key, std::set<std::string>& lines)
{
    lines.insert(key);
    for (const auto& [name, value] : tree.values)
        lines.insert(value_line(key, name, value));
    for (const auto& [name, child] : tree.subkeys)
        add_lines(child, key + "\\" + narrow(name), lines);
}

// Below every top key the registry holds what the rows make and nothing else.
void expect_registry(const std::vector<row>& rows, const computed_values& values, const std::string& label)
{
    std::set<std::string> expected, actual;
    for (const std::wstring top : tops) {
        for (const row& each : rows) {
            std::wstring key = each.key;
            if (key != top && !key.starts_with(top + L"\\"))
                continue;
            for (std::size_t end = top.size(); end != std::wstring::npos; end = key.find(L'\\', end + 1))
                expected.insert(narrow(key.substr(0, end)));  // the keys above the row's own
            expected.insert(narrow(key));
            if (each.data)
                expected.insert(
                    value_line(narrow(key), expand(each.name, values), string_value(expand(each.data, values))));
        }
        if (std::optional<registry_tree> tree = read_tree(user, top))
            add_lines(*tree, narrow(top), actual);
    }
    for (const std::string& line : expected)
        EXPECT_TRUE(actual.count(line)) << label << ": missing " << line;
    for (const std::string& line : actual)
        EXPECT_TRUE(expected.count(line)) << label << ": unexpected " << line;
}

// The position of the ERROR record of a failed tree deletion, or -1.
int deletion_error(const run_result& run, const char* hive, const std::wstring& path)
{
    std::string text =
        "An error ocurred while deleting key tree from " + std::string(hive) + " registry (" + narrow(path) + ")";
    return run.logged("ERROR", text) ? run.find_record(text) : -1;
}

TEST(Registration, NewerWindowsWritesTheRowsAndOpensTheDefaultProgramsPage)
{
    clean_registry registry;
    scoped_windows_version version(L"win10");
    sandbox box;
    // The prefix's control.exe replaced by the browser stand-in, which records
    // how the Default Programs page was asked for. Wine runs its own built-in
    // control.exe unless told to prefer the file on disk.
    registry_guard overrides({{user, L"Software\\Wine\\DllOverrides"}});
    write_string(user, L"Software\\Wine\\DllOverrides", L"control.exe", L"native");
    prefix_program_aside control(system_folder() + L"\\control.exe", &box);
    // On this system the choice is the user's, even with the .html workaround on.
    write_file(box.program_dir + L"\\ostrilo.cfg", "product_name=Acme Remote\r\nlotus_notes_html_workaround=1\r\n");
    run_result run = box.run(L"-setregistry");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(run.boxes.empty());
    computed_values expected = expected_for(box.exe(), L"", L"", L"Acme Remote");
    expect_registry(registration_rows, expected, "newer Windows");

    std::string command = narrow(control.path()) +
                          " /name Microsoft.DefaultPrograms /page "
                          "pageDefaultProgram\\pageAdvancedSettings?pszAppName=Feldrun%20Acme%20Remote%20Browserweiche";
    EXPECT_TRUE(run.logged("DEBUG", "Windows version is 8 or newer. Launching settings so that the user can set "
                                    "Feldrun as default browser manually."));
    EXPECT_TRUE(run.logged("DEBUG", "Calling: <" + command + ">")) << run.err;
    std::vector<standin_call> calls = wait_for_calls(control.path());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].command_line, command);

    EXPECT_NE(run.out.find("Ostrilo.exe found in " + narrow(box.exe()) + ", setting registry entries."),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(run.logged("DEBUG", "sw_call: <" + narrow(expected[L"<open command>"]) + ">"));
    int notify = run.find_record("Send SHChangeNotify now");
    EXPECT_GE(notify, 0);
    EXPECT_GT(run.find_record("returning from set_ostrilo_registry()"), notify);
}

struct older_case {
    const char* behaviour;
    const wchar_t* program_folder = L"";    // below the sandbox root; empty: the sandbox's own
    const wchar_t* arguments = L"";         // behind -setregistry
    const wchar_t* configdir_suffix = L"";  // what the open command carries behind "%1"
    bool viewer_installed = false;
    bool workaround = false;     // lotus_notes_html_workaround=1: the .html rows are written
    bool choice_subkey = false;  // the earlier .html UserChoice has a subkey
    const wchar_t* http_choice = nullptr;  // the ProgId of the earlier http UserChoice
    bool html_class_deleted = false;       // Internet Explorer was the default: the user's .html class goes
    int runs = 1;
};

TEST(Registration, OlderWindowsAlsoWritesTheChoicesWithOpenCommandAndIconOfTheRun)
{
    const older_case cases[] = {
        {"plain"},
        {"path with blanks and non-ASCII", L"Pr\u00F6gram Files \u00FC\u20AC"},
        {"configdir", L"", L" -configdir \"C:\\My Config\\\\\"", L" -configdir \"C:\\My Config\""},
        {.behaviour = "installed viewer gives the icon", .viewer_installed = true},
        // The second run gives the same registry; the machine-wide DDE
        // commands are gone by then, which only adds an error record each.
        {.behaviour = "workaround, run twice", .workaround = true, .runs = 2},
        {.behaviour = "workaround, UserChoice with a subkey stays", .workaround = true, .choice_subkey = true},
        {.behaviour = "IE as default in any letter case", .http_choice = L"Ie.HtTp", .html_class_deleted = true},
        {.behaviour = "IE within a longer ProgId", .http_choice = L"Microsoft.IE.HTTP.1", .html_class_deleted = true},
        {.behaviour = "another browser as default", .http_choice = L"ChromeHTML"},
    };
    for (const older_case& c : cases) {
        clean_registry registry;
        scoped_windows_version version(L"win7");
        sandbox box;
        std::wstring program = box.exe();
        if (*c.program_folder) {
            program = box.root + L"\\" + c.program_folder + L"\\Ostrilo.exe";
            make_folders(box.root + L"\\" + c.program_folder);
            CopyFileW(box.exe().c_str(), program.c_str(), FALSE);
        }
        std::wstring viewer = c.viewer_installed ? box.install_path + L"\\vncviewer.exe" : L"";
        if (c.viewer_installed)
            write_file(viewer, "viewer");
        if (c.workaround)
            write_file(box.program_dir + L"\\ostrilo.cfg", "lotus_notes_html_workaround=1\r\n");
        // Where the user may change the machine-wide classes, the old DDE
        // commands go, with the tree below them.
        for (const wchar_t* key : machine_dde)
            open_key(machine, std::wstring(key) + L"\\Application", true);
        // An earlier .html UserChoice: the workaround deletes it as a single
        // key (which fails when it has a subkey) and writes the Progid into it.
        const std::wstring child = std::wstring(html_user_choice) + L"\\Child";
        write_string(user, html_user_choice, L"Hash", L"old");
        if (c.choice_subkey)
            open_key(user, child, true);
        const wchar_t* other_html_class = L"Software\\Classes\\.html\\OpenWithProgids";
        write_string(user, other_html_class, L"", L"OtherBrowserHTML");
        if (c.http_choice)
            write_string(user, L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice",
                         L"Progid", c.http_choice);

        run_result run;
        for (int i = 0; i < c.runs; ++i)
            run = box.run_command_line(L"\"" + program + L"\" -setregistry" + c.arguments);
        EXPECT_EQ(run.exit_code, 0u) << c.behaviour;

        std::vector<row> rows = registration_rows + forced_rows;
        if (c.workaround)
            rows = rows + html_workaround_rows;
        if (!c.workaround || c.choice_subkey)
            rows.push_back({html_user_choice, L"Hash", L"old"});
        if (c.choice_subkey)
            rows.push_back({child.c_str(), L"", nullptr});
        if (!c.html_class_deleted)
            rows.push_back({other_html_class, L"", L"OtherBrowserHTML"});
        expect_registry(rows, expected_for(program, c.configdir_suffix, viewer), c.behaviour);
        for (const wchar_t* key : machine_dde) {
            EXPECT_FALSE(read_tree(machine, key).has_value()) << c.behaviour;
            EXPECT_EQ(deletion_error(run, "HKEY_LOCAL_MACHINE", key) >= 0, c.runs == 2) << c.behaviour;
        }
        EXPECT_TRUE(run.logged("DEBUG", "Windows version is 7 or older. Force-setting Feldrun as default browser."));
        EXPECT_TRUE(run.logged("DEBUG", c.workaround ? "lotus_notes_html_workaround is true"
                                                     : "lotus_notes_html_workaround is false (or not set at all)"))
            << c.behaviour;
        if (c.workaround) {
            const std::string deletion = "RegDeleteKeyW(" + narrow(html_user_choice) + ")";
            EXPECT_TRUE(c.choice_subkey ? run.logged("WARN", deletion + " failed")
                                        : run.logged("TRACE", deletion + " succeeeded"))
                << c.behaviour;
        }
        EXPECT_TRUE(run.logged("DEBUG", c.html_class_deleted
                                            ? "IE is set as standard browser. Deleting HKEY_CURRENT_USER\\Software\\"
                                              "Classes\\.html IF it exists to make sure no other browser opens the "
                                              "internal links."
                                            : "IE is *not* set as standard browser. Not deleting HKEY_CURRENT_USER\\"
                                              "Software\\Classes\\.html (this key contains the browser that should "
                                              "be used to open internal links)."))
            << c.behaviour;
        EXPECT_TRUE(run.logged("DEBUG", "Send SHChangeNotify now")) << c.behaviour;
    }
}

TEST(Removal, DeletesProgIdsClientAndRegisteredApplicationAndLeavesTheRest)
{
    struct removal_case {
        const wchar_t* option;
        const char* config;
        const wchar_t* product;
        bool registered;  // -setregistry ran before
    };
    const removal_case cases[] = {{L"-resetregistry", nullptr, L"Corvane-Pro", true},
                                  {L"-unsetregistry", "product_name=Acme\r\n", L"Acme", true},
                                  {L"-resetregistry", nullptr, L"Corvane-Pro", false}};
    for (const removal_case& c : cases) {
        const std::string label = narrow(c.option) + (c.registered ? "" : " without registration");
        clean_registry registry;
        scoped_windows_version version(L"win7");
        sandbox box;
        if (c.config)
            write_file(box.program_dir + L"\\ostrilo.cfg", c.config);
        const wchar_t* other = L"Software\\Clients\\StartMenuInternet\\OTHER\\Capabilities";
        write_string(user, registered_applications, L"Other Browser", other);
        if (c.registered) {
            ASSERT_EQ(box.run(L"-setregistry").exit_code, 0u);
        }
        run_result run = box.run(c.option);
        EXPECT_EQ(run.exit_code, 0u) << label;
        EXPECT_TRUE(run.boxes.empty()) << label;

        // Left in place: the program path, the StartMenuInternet default, the
        // forced rows and other applications.
        std::vector<row> kept = {{registered_applications, L"Other Browser", other}};
        for (const row& each : registration_rows + forced_rows) {
            const std::wstring key = each.key;
            if (c.registered && !key.starts_with(L"Software\\Classes\\NB.") &&
                !key.starts_with(L"Software\\Clients\\StartMenuInternet\\") && key != registered_applications)
                kept.push_back(each);
        }
        computed_values expected = expected_for(box.exe(), L"", L"", c.product);
        expect_registry(kept, expected, label);

        // Each missing key gets an error record, in order, and the notification
        // follows all the same. The key below RegisteredApplications is never
        // made by the registration.
        EXPECT_TRUE(run.logged("DEBUG", "reset_ostrilo_registry: removing Ostrilo registry entries for current user"));
        const std::wstring removal_keys[] = {
            L"Software\\Classes\\NB.HTML", L"Software\\Classes\\NB.HTTP", L"Software\\Classes\\NB.HTTPS",
            L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE",
            L"Software\\RegisteredApplications\\" + expected[L"<name>"]};
        int previous = -1;
        for (const std::wstring& key : removal_keys) {
            const int index = deletion_error(run, "HKEY_CURRENT_USER", key);
            EXPECT_EQ(index > previous, !c.registered || key.starts_with(registered_applications))
                << label << ": " << narrow(key);
            previous = std::max(previous, index);
        }
        EXPECT_GT(run.find_record("Done! Sending SHChangeNotify (this tells Windows that there's been a change in some "
                                  "standard program and Windows sets it to its default.)"),
                  previous)
            << label;
    }
}

}  // namespace
