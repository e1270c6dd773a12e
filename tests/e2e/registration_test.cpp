// -setregistry, -resetregistry and -unsetregistry as an administrator sees
// them: the registry of the current user read back afterwards, the Control
// Panel start on newer Windows, and the log.
#include "registry_guard.h"
#include "sandbox.h"
#include "standin_calls.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

const HKEY user = HKEY_CURRENT_USER;
const HKEY machine = HKEY_LOCAL_MACHINE;

const wchar_t* const classes_html = L"Software\\Classes\\NB.HTML";
const wchar_t* const classes_http = L"Software\\Classes\\NB.HTTP";
const wchar_t* const classes_https = L"Software\\Classes\\NB.HTTPS";
const wchar_t* const app_path = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ostrilo.exe";
const wchar_t* const start_menu = L"Software\\Clients\\StartMenuInternet";
const wchar_t* const client = L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE";
const wchar_t* const registered_applications = L"Software\\RegisteredApplications";
const wchar_t* const http_choice = L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
const wchar_t* const https_choice = L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\https\\UserChoice";
const wchar_t* const user_html_class = L"Software\\Classes\\.html";
const wchar_t* const html_file_exts = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html";
const wchar_t* const html_user_choice =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice";

const std::wstring default_name = L"Feldrun Corvane-Pro Browserweiche";
const std::wstring default_description = L"\u00D6ffnet Links im Corvane-Pro Viewer oder im lokalen Browser.";

// Each test begins with a user who never registered the program, and the
// registry is put back as it was when the test ends.
class clean_registry {
public:
    clean_registry()
    {
        for (const wchar_t* path : {classes_html, classes_http, classes_https, L"Software\\Classes\\http",
                                    L"Software\\Classes\\https", user_html_class, app_path, start_menu,
                                    registered_applications,
                                    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http",
                                    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\https",
                                    html_file_exts})
            delete_tree(user, path);
    }

private:
    registration_keys_guard guard_;
};

std::wstring system_folder()
{
    wchar_t folder[MAX_PATH] = L"";
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

// The prefix's control.exe replaced by the browser stand-in, which records
// how the Default Programs page was asked for. Wine runs its own built-in
// control.exe unless told to prefer the file on disk.
class control_panel_standin {
public:
    explicit control_panel_standin(const sandbox& box)
        : path_(system_folder() + L"\\control.exe"),
          backup_(path_ + L".ostrilo-test-backup"),
          native_(user, L"Software\\Wine\\DllOverrides", L"control.exe", L"native")
    {
        // A run that ended abruptly may have left its backup behind.
        if (path_exists(backup_))
            CopyFileW(backup_.c_str(), path_.c_str(), FALSE);
        else
            CopyFileW(path_.c_str(), backup_.c_str(), FALSE);
        DeleteFileW(calls_file(path_).c_str());
        box.copy_standin(L"browser_standin", path_);
    }
    ~control_panel_standin()
    {
        CopyFileW(backup_.c_str(), path_.c_str(), FALSE);
        DeleteFileW(backup_.c_str());
        DeleteFileW(calls_file(path_).c_str());
    }
    control_panel_standin(const control_panel_standin&) = delete;
    control_panel_standin& operator=(const control_panel_standin&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
    std::wstring backup_;
    scoped_registry_string native_;
};

// The values a registration works out.
struct registration {
    std::wstring program_path;
    std::wstring open_command;
    std::wstring icon;
    std::wstring name = default_name;
    std::wstring description = default_description;
};

registration expected_for(const std::wstring& program_path, const std::wstring& configdir_suffix = L"",
                          const std::wstring& icon_file = L"")
{
    registration r;
    r.program_path = program_path;
    r.open_command = L"\"" + program_path + L"\" -url \"%1\"" + configdir_suffix;
    r.icon = (icon_file.empty() ? program_path : icon_file) + L",0";
    return r;
}

// One row of the registration: value name "" is the unnamed value; data none
// means the row only makes sure the key exists. The data may be one of the
// computed values, named in angle brackets.
struct row {
    const wchar_t* key;
    const wchar_t* name;
    const wchar_t* data;
};

const row registration_rows[] = {
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
    {L"Software\\RegisteredApplications", L"<name>",
     L"Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities"},
};

const row forced_rows[] = {
    {L"Software\\Classes\\http\\shell\\open\\command", L"", L"<open command>"},
    {L"Software\\Classes\\http\\DefaultIcon", L"", L"<icon>"},
    {L"Software\\Classes\\https\\shell\\open\\command", L"", L"<open command>"},
    {L"Software\\Classes\\https\\DefaultIcon", L"", L"<icon>"},
    {http_choice, L"Progid", L"NB.HTTP"},
    {https_choice, L"Progid", L"NB.HTTPS"},
};

const row html_workaround_rows[] = {
    {L"Software\\Classes\\.html", L"", L"NB.HTML"},
    {html_user_choice, L"Progid", L"NB.HTML"},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\OpenWithList", L"a", L"Ostrilo.exe"},
    {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\OpenWithList", L"MRUList", L"a"},
};

std::wstring expand(const wchar_t* text, const registration& r)
{
    const std::map<std::wstring, std::wstring> computed = {
        {L"<open command>", r.open_command}, {L"<icon>", r.icon},       {L"<program path>", r.program_path},
        {L"<name>", r.name},                 {L"<description>", r.description}};
    auto found = computed.find(text);
    return found == computed.end() ? std::wstring(text) : found->second;
}

// The trees that the rows make, by top key: with nothing else in them, this
// is exactly what the registry must hold below those keys.
std::map<std::wstring, registry_tree> trees_of(const std::vector<row>& rows, const std::vector<std::wstring>& tops,
                                               const registration& r)
{
    std::map<std::wstring, registry_tree> trees;
    for (const row& each : rows) {
        std::wstring key = each.key;
        for (const std::wstring& top : tops) {
            if (key != top && key.rfind(top + L"\\", 0) != 0)
                continue;
            registry_tree* node = &trees[top];
            std::wstring rest = key.size() > top.size() ? key.substr(top.size() + 1) : std::wstring();
            while (!rest.empty()) {
                std::size_t slash = rest.find(L'\\');
                node = &node->subkeys[rest.substr(0, slash)];
                rest = slash == std::wstring::npos ? std::wstring() : rest.substr(slash + 1);
            }
            if (each.data)
                node->values[expand(each.name, r)] = string_value(expand(each.data, r));
        }
    }
    return trees;
}

std::string describe(const row& each)
{
    return narrow(each.key) + " [" + narrow(each.name) + "]";
}

void expect_rows(const row* begin, const row* end, const registration& r)
{
    for (const row* each = begin; each != end; ++each) {
        if (each->data) {
            EXPECT_EQ(read_value(user, each->key, expand(each->name, r)), string_value(expand(each->data, r)))
                << describe(*each);
        } else {
            EXPECT_TRUE(key_exists(user, each->key)) << describe(*each);
        }
    }
}

template <std::size_t count>
void expect_rows(const row (&rows)[count], const registration& r)
{
    expect_rows(rows, rows + count, r);
}

template <std::size_t count>
void expect_no_rows(const row (&rows)[count])
{
    for (const row& each : rows)
        EXPECT_FALSE(key_exists(user, each.key)) << describe(each);
}

const std::vector<std::wstring> registration_tops = {classes_html, classes_http, classes_https, app_path, client,
                                                     registered_applications};

TEST(Registration, WritesExactlyTheRegistrationRowsForTheRunningProgram)
{
    clean_registry registry;
    scoped_windows_version version(L"win10");
    sandbox box;
    control_panel_standin control(box);
    run_result run = box.run(L"-setregistry");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(run.boxes.empty());
    registration expected = expected_for(box.exe());

    std::map<std::wstring, registry_tree> trees =
        trees_of({std::begin(registration_rows), std::end(registration_rows)}, registration_tops, expected);
    for (const std::wstring& top : registration_tops)
        EXPECT_EQ(read_tree(user, top), trees[top]) << narrow(top);
    // Rows that test one value each, so that a failure names the row.
    expect_rows(registration_rows, expected);
    // The empty URL protocol marker is one null character.
    EXPECT_EQ(read_value(user, classes_http, L"URLProtocol")->data.size(), 2u);
    EXPECT_EQ(read_value(user, start_menu, L""), string_value(L"OSTRILO.EXE"));

    EXPECT_NE(run.out.find("Ostrilo.exe found in " + narrow(box.exe()) + ", setting registry entries."),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(run.logged("DEBUG", "sw_call: <" + narrow(expected.open_command) + ">"));
    EXPECT_TRUE(run.logged("TRACE", "sw_icon: <" + narrow(expected.icon) + ">"));
    int notify = run.find_record("Send SHChangeNotify now");
    EXPECT_GE(notify, 0);
    EXPECT_GT(run.find_record("returning from set_ostrilo_registry()"), notify);
    EXPECT_FALSE(run.logged("ERROR", "Error creating key: " + narrow(classes_html)));
}

struct command_case {
    const char* behaviour;
    const wchar_t* program_folder;  // below the sandbox root; empty: the sandbox's own
    const wchar_t* arguments;
    const wchar_t* configdir_suffix;
    bool viewer_installed;
};

TEST(Registration, OpenCommandAndIconFollowProgramPathConfigdirAndViewer)
{
    const command_case cases[] = {
        {"plain", L"", L"-setregistry", L"", false},
        {"path with blanks and non-ASCII", L"Pr\u00F6gram Files \u00FC\u20AC", L"-setregistry", L"", false},
        {"configdir in quotes", L"", L"-setregistry -configdir \"C:\\My Config\\\\\"", L" -configdir \"C:\\My Config\"",
         false},
        {"configdir with equals sign", L"", L"-setregistry -configdir=H:\\cfg", L" -configdir \"H:\\cfg\"", false},
        {"installed viewer gives the icon", L"", L"-setregistry", L"", true},
    };
    for (const command_case& c : cases) {
        clean_registry registry;
        scoped_windows_version version(L"win7");
        sandbox box;
        std::wstring program = box.exe();
        if (*c.program_folder) {
            program = box.root + L"\\" + c.program_folder + L"\\Ostrilo.exe";
            make_folders(box.root + L"\\" + c.program_folder);
            CopyFileW(box.exe().c_str(), program.c_str(), FALSE);
        }
        std::wstring viewer;
        if (c.viewer_installed) {
            viewer = box.install_path + L"\\vncviewer.exe";
            write_file(viewer, "viewer");
        }
        run_result run = box.run_command_line(L"\"" + program + L"\" " + c.arguments);
        EXPECT_EQ(run.exit_code, 0u) << c.behaviour;
        registration expected = expected_for(program, c.configdir_suffix, viewer);
        // Only the rows whose data is worked out from the path, the folder or the viewer.
        auto check = [&](const auto& rows) {
            for (const row& each : rows) {
                std::wstring data = each.data ? each.data : L"";
                if (data == L"<open command>" || data == L"<icon>" || data == L"<program path>") {
                    EXPECT_EQ(read_value(user, each.key, each.name), string_value(expand(each.data, expected)))
                        << c.behaviour << ": " << describe(each);
                }
            }
        };
        check(registration_rows);
        check(forced_rows);
    }
}

TEST(DefaultBrowser, NewerWindowsOpensTheDefaultProgramsPageAndWritesNoChoices)
{
    clean_registry registry;
    scoped_windows_version version(L"win10");
    sandbox box;
    control_panel_standin control(box);
    write_file(box.program_dir + L"\\ostrilo.cfg", "product_name=Acme Remote\r\nlotus_notes_html_workaround=1\r\n");
    run_result run = box.run(L"-setregistry");
    EXPECT_EQ(run.exit_code, 0u);

    std::string command = narrow(control.path()) +
                          " /name Microsoft.DefaultPrograms /page "
                          "pageDefaultProgram\\pageAdvancedSettings?pszAppName=Feldrun%20Acme%20Remote%20Browserweiche";
    EXPECT_TRUE(run.logged("DEBUG", "Windows version is 8 or newer. Launching settings so that the user can set "
                                    "Feldrun as default browser manually."));
    EXPECT_TRUE(run.logged("DEBUG", "Calling: <" + command + ">")) << run.err;
    std::vector<standin_call> calls = wait_for_calls(control.path());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].command_line, command);

    registration expected = expected_for(box.exe());
    expected.name = L"Feldrun Acme Remote Browserweiche";
    expected.description = L"\u00D6ffnet Links im Acme Remote Viewer oder im lokalen Browser.";
    expect_rows(registration_rows, expected);
    // The choice is the user's on this system, even with the .html workaround on.
    expect_no_rows(forced_rows);
    expect_no_rows(html_workaround_rows);
    EXPECT_FALSE(run.logged("DEBUG", "Pre-Windows 8.1. Forcing setting Feldrun as default browser."));
    EXPECT_TRUE(run.logged("DEBUG", "Send SHChangeNotify now"));
}

struct forced_case {
    const char* behaviour;
    const char* config;
    bool workaround;
};

TEST(DefaultBrowser, OlderWindowsWritesTheChoicesAndTheHtmlRowsOnlyWithTheWorkaround)
{
    const forced_case cases[] = {
        {"no configuration", nullptr, false},
        {"workaround on", "lotus_notes_html_workaround=1\r\n", true},
        {"workaround with trailing blank", "lotus_notes_html_workaround=1 \r\n", true},
        {"any other value is off", "lotus_notes_html_workaround=10\r\n", false},
    };
    for (const forced_case& c : cases) {
        clean_registry registry;
        scoped_windows_version version(L"win7");
        sandbox box;
        if (c.config)
            write_file(box.program_dir + L"\\ostrilo.cfg", c.config);
        // Where the user may change the machine-wide classes, the old DDE
        // commands go; the tree below them goes with them.
        create_key(machine, L"Software\\Classes\\http\\shell\\open\\ddeexec\\Application");
        create_key(machine, L"Software\\Classes\\https\\shell\\open\\ddeexec");
        run_result run = box.run(L"-setregistry");
        EXPECT_EQ(run.exit_code, 0u) << c.behaviour;

        registration expected = expected_for(box.exe());
        expect_rows(registration_rows, expected);
        expect_rows(forced_rows, expected);
        EXPECT_FALSE(key_exists(machine, L"Software\\Classes\\http\\shell\\open\\ddeexec")) << c.behaviour;
        EXPECT_FALSE(key_exists(machine, L"Software\\Classes\\https\\shell\\open\\ddeexec")) << c.behaviour;
        EXPECT_TRUE(run.logged("DEBUG", "Windows version is 7 or older. Force-setting Feldrun as default browser."));
        if (c.workaround) {
            expect_rows(html_workaround_rows, expected);
            EXPECT_TRUE(run.logged("DEBUG", "lotus_notes_html_workaround is true")) << c.behaviour;
        } else {
            expect_no_rows(html_workaround_rows);
            EXPECT_TRUE(run.logged("DEBUG", "lotus_notes_html_workaround is false (or not set at all)")) << c.behaviour;
        }
        EXPECT_TRUE(run.logged("DEBUG", "Send SHChangeNotify now"));
    }
}

TEST(DefaultBrowser, OlderWindowsWithoutMachineDdeCommandsLogsTwoErrorsAndGoesOn)
{
    clean_registry registry;
    scoped_windows_version version(L"win7");
    delete_tree(machine, L"Software\\Classes\\http\\shell\\open\\ddeexec");
    delete_tree(machine, L"Software\\Classes\\https\\shell\\open\\ddeexec");
    sandbox box;
    run_result run = box.run(L"-setregistry");
    for (const char* path : {"Software\\Classes\\http\\shell\\open\\ddeexec", "Software\\Classes\\https\\shell\\open\\ddeexec"})
        EXPECT_TRUE(run.logged("ERROR", std::string("An error ocurred while deleting key tree from HKEY_LOCAL_MACHINE "
                                                    "registry (") + path + ")"));
    expect_rows(forced_rows, expected_for(box.exe()));
}

struct user_choice_case {
    const char* behaviour;
    bool with_subkey;
    bool survives;
    std::string record_level;
    std::string record;
};

TEST(DefaultBrowser, HtmlUserChoiceIsReplacedUnlessItHasSubkeys)
{
    const std::string path = narrow(html_user_choice);
    const user_choice_case cases[] = {
        {"key with a subkey stays and gets the Progid", true, true, "WARN", "RegDeleteKeyW(" + path + ") failed"},
        {"key without subkeys is made anew", false, false, "TRACE", "RegDeleteKeyW(" + path + ") succeeeded"},
    };
    for (const user_choice_case& c : cases) {
        clean_registry registry;
        scoped_windows_version version(L"win7");
        sandbox box;
        write_file(box.program_dir + L"\\ostrilo.cfg", "lotus_notes_html_workaround=1\r\n");
        write_string(user, html_user_choice, L"Hash", L"old");
        if (c.with_subkey)
            create_key(user, std::wstring(html_user_choice) + L"\\Child");
        run_result run = box.run(L"-setregistry");
        EXPECT_TRUE(run.logged(c.record_level, c.record)) << c.behaviour;
        EXPECT_EQ(read_value(user, html_user_choice, L"Progid"), string_value(L"NB.HTML")) << c.behaviour;
        EXPECT_EQ(read_value(user, html_user_choice, L"Hash").has_value(), c.survives) << c.behaviour;
        EXPECT_EQ(key_exists(user, std::wstring(html_user_choice) + L"\\Child"), c.with_subkey) << c.behaviour;
    }
}

struct ie_case {
    const wchar_t* prog_id;  // none: no UserChoice
    bool html_class_deleted;
};

TEST(Registration, InternetExplorerAsDefaultRemovesTheUsersHtmlClassInAnyLetterCase)
{
    const ie_case cases[] = {
        {L"IE.HTTP", true},          {L"ie.http", true}, {L"Ie.HtTp", true}, {L"Microsoft.IE.HTTP.1", true},
        {L"ChromeHTML", false},      {L"IE.HTT", false}, {nullptr, false},
    };
    for (const ie_case& c : cases) {
        std::string label = c.prog_id ? narrow(c.prog_id) : "(none)";
        clean_registry registry;
        scoped_windows_version version(L"win10");
        sandbox box;
        control_panel_standin control(box);
        if (c.prog_id)
            write_string(user, http_choice, L"ProgId", c.prog_id);
        write_string(user, user_html_class, L"", L"OtherBrowserHTML");
        create_key(user, std::wstring(user_html_class) + L"\\OpenWithProgids");
        run_result run = box.run(L"-setregistry");
        EXPECT_EQ(key_exists(user, user_html_class), !c.html_class_deleted) << label;
        if (c.html_class_deleted) {
            EXPECT_TRUE(run.logged("DEBUG", "IE is set as standard browser. Deleting HKEY_CURRENT_USER\\Software\\Classes\\.html "
                                            "IF it exists to make sure no other browser opens the internal links."))
                << label;
        } else {
            EXPECT_TRUE(run.logged("DEBUG", "IE is *not* set as standard browser. Not deleting HKEY_CURRENT_USER\\Software\\"
                                            "Classes\\.html (this key contains the browser that should be used to open "
                                            "internal links)."))
                << label;
        }
        // The test comes before the rows: the ProgIds are written all the same.
        expect_rows(registration_rows, expected_for(box.exe()));
    }
}

TEST(Registration, RunningTwiceGivesTheSameRegistry)
{
    clean_registry registry;
    scoped_windows_version version(L"win7");
    sandbox box;
    write_file(box.program_dir + L"\\ostrilo.cfg", "lotus_notes_html_workaround=1\r\n");
    const std::vector<std::wstring> tops = {classes_html,  classes_http,  classes_https,       L"Software\\Classes\\http",
                                            L"Software\\Classes\\https", user_html_class, app_path,
                                            start_menu,    registered_applications,
                                            L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations",
                                            html_file_exts};
    box.run(L"-setregistry");
    std::vector<std::optional<registry_tree>> first;
    for (const std::wstring& top : tops)
        first.push_back(read_tree(user, top));
    box.run(L"-setregistry");
    for (std::size_t i = 0; i < tops.size(); ++i) {
        EXPECT_TRUE(first[i].has_value()) << narrow(tops[i]);
        EXPECT_EQ(read_tree(user, tops[i]), first[i]) << narrow(tops[i]);
    }
}

TEST(Removal, DeletesProgIdsClientAndRegisteredApplicationAndLeavesTheRest)
{
    for (const wchar_t* option : {L"-resetregistry", L"-unsetregistry"}) {
        clean_registry registry;
        scoped_windows_version version(L"win7");
        sandbox box;
        write_string(user, registered_applications, L"Other Browser", L"Software\\Clients\\StartMenuInternet\\OTHER\\Capabilities");
        ASSERT_EQ(box.run(L"-setregistry").exit_code, 0u);
        run_result run = box.run(option);
        EXPECT_EQ(run.exit_code, 0u) << narrow(option);
        EXPECT_TRUE(run.boxes.empty());

        for (const wchar_t* gone : {classes_html, classes_http, classes_https, client})
            EXPECT_FALSE(key_exists(user, gone)) << narrow(option) << ": " << narrow(gone);
        EXPECT_FALSE(read_value(user, registered_applications, default_name).has_value()) << narrow(option);
        EXPECT_TRUE(read_value(user, registered_applications, L"Other Browser").has_value()) << narrow(option);

        registration expected = expected_for(box.exe());
        EXPECT_EQ(read_value(user, app_path, L""), string_value(expected.program_path)) << narrow(option);
        EXPECT_EQ(read_value(user, start_menu, L""), string_value(L"OSTRILO.EXE")) << narrow(option);
        expect_rows(forced_rows, expected);

        EXPECT_TRUE(run.logged("DEBUG", "reset_ostrilo_registry: removing Ostrilo registry entries for current user"));
        // The key below RegisteredApplications was never made by the registration.
        EXPECT_TRUE(run.logged("ERROR", "An error ocurred while deleting key tree from HKEY_CURRENT_USER registry "
                                        "(Software\\RegisteredApplications\\Feldrun Corvane-Pro Browserweiche)"));
        EXPECT_TRUE(run.logged("DEBUG", "Done! Sending SHChangeNotify (this tells Windows that there's been a change in "
                                        "some standard program and Windows sets it to its default.)"));
    }
}

TEST(Removal, OfKeysThatDoNotExistLogsEachAndStillNotifies)
{
    clean_registry registry;
    sandbox box;
    run_result run = box.run(L"-resetregistry");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(run.boxes.empty());
    int previous = -1;
    for (const char* path : {"Software\\Classes\\NB.HTML", "Software\\Classes\\NB.HTTP", "Software\\Classes\\NB.HTTPS",
                             "Software\\Clients\\StartMenuInternet\\OSTRILO.EXE",
                             "Software\\RegisteredApplications\\Feldrun Corvane-Pro Browserweiche"}) {
        int index = run.find_record(
            std::string("An error ocurred while deleting key tree from HKEY_CURRENT_USER registry (") + path + ")");
        EXPECT_GT(index, previous) << path;
        previous = index;
    }
    EXPECT_GT(run.find_record("Done! Sending SHChangeNotify (this tells Windows that there's been a change in some "
                              "standard program and Windows sets it to its default.)"),
              previous);
}

TEST(Removal, UsesTheProductNameOfTheConfiguration)
{
    clean_registry registry;
    scoped_windows_version version(L"win7");
    sandbox box;
    write_file(box.program_dir + L"\\ostrilo.cfg", "product_name=Acme\r\n");
    box.run(L"-setregistry");
    EXPECT_TRUE(read_value(user, registered_applications, L"Feldrun Acme Browserweiche").has_value());
    box.run(L"-resetregistry");
    EXPECT_FALSE(read_value(user, registered_applications, L"Feldrun Acme Browserweiche").has_value());
}

}  // namespace
