// -setregistry, -resetregistry and -unsetregistry as an administrator sees
// them: the registry of the current user read back afterwards, the Control
// Panel start on newer Windows, and the log.
#include "sandbox.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <sstream>

namespace {

const HKEY user = HKEY_CURRENT_USER;
const wchar_t* const html_user_choice =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice";
const wchar_t* const machine_dde[] = {L"Software\\Classes\\http\\shell\\open\\ddeexec",
                                      L"Software\\Classes\\https\\shell\\open\\ddeexec"};

// Lines "key" (the key exists) and "key [value name]=data" (REG_SZ); $C, $SMI,
// $UA and $FE abbreviate keys, <...> are the values a registration works out.
const std::string registration_rows = R"($C\NB.HTML []=Ostrilo HTML
$C\NB.HTML [FriendlyTypeName]=Ostrilo HTML
$C\NB.HTML\shell []=open
$C\NB.HTML\shell\open\command []=<command>
$C\NB.HTML\shell\open\ddexec
$C\NB.HTML\DefaultIcon []=<icon>
$C\NB.HTTP []=Ostrilo URL
$C\NB.HTTP [FriendlyTypeName]=Ostrilo URL
$C\NB.HTTP [URLProtocol]=
$C\NB.HTTP\shell []=open
$C\NB.HTTP\shell\open\command []=<command>
$C\NB.HTTP\DefaultIcon []=<icon>
$C\NB.HTTPS []=Ostrilo URL
$C\NB.HTTPS [FriendlyTypeName]=Ostrilo URL
$C\NB.HTTPS [URLProtocol]=
$C\NB.HTTPS\shell []=open
$C\NB.HTTPS\shell\open\command []=<command>
$C\NB.HTTPS\DefaultIcon []=<icon>
Software\Microsoft\Windows\CurrentVersion\App Paths\Ostrilo.exe []=<program>
Software\Clients\StartMenuInternet []=OSTRILO.EXE
$SMI []=<name>
$SMI\Capabilities [ApplicationDescription]=Öffnet Links im <product> Viewer oder im lokalen Browser.
$SMI\Capabilities [ApplicationIcon]=<icon>
$SMI\Capabilities [ApplicationName]=<name>
$SMI\Capabilities\FileAssociations [.htm]=NB.HTML
$SMI\Capabilities\FileAssociations [.html]=NB.HTML
$SMI\Capabilities\URLAssociations [http]=NB.HTTP
$SMI\Capabilities\URLAssociations [https]=NB.HTTPS
$SMI\DefaultIcon []=<icon>
$SMI\shell\open\command []=<command>
$SMI\InstallInfo
Software\RegisteredApplications [<name>]=$SMI\Capabilities
)";
// Windows 7 and older: the choices themselves, and the .html rows with the workaround.
const std::string forced_rows = R"($C\http\shell\open\command []=<command>
$C\http\DefaultIcon []=<icon>
$C\https\shell\open\command []=<command>
$C\https\DefaultIcon []=<icon>
$UA\http\UserChoice [Progid]=NB.HTTP
$UA\https\UserChoice [Progid]=NB.HTTPS
)";
const std::string html_workaround_rows = R"($C\.html []=NB.HTML
$FE\UserChoice [Progid]=NB.HTML
$FE\OpenWithList [a]=Ostrilo.exe
$FE\OpenWithList [MRUList]=a
)";

// The expected lines, with the keys between each line's top key and its own key.
std::set<std::string> expected_lines(const std::string& rows, std::map<std::string, std::string> values)
{
    values.insert({{"$C", "Software\\Classes"},
                   {"$SMI", "Software\\Clients\\StartMenuInternet\\OSTRILO.EXE"},
                   {"$UA", "Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations"},
                   {"$FE", "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html"}});
    std::set<std::string> lines;
    std::istringstream in(rows);
    for (std::string line; std::getline(in, line); lines.insert(line)) {
        for (const auto& [name, value] : values)
            for (std::size_t at; (at = line.find(name)) != std::string::npos;)
                line.replace(at, name.size(), value);
        const std::string key = line.substr(0, line.find(" ["));
        for (const std::string& top : registration_tops)
            if (key == top || key.starts_with(top + "\\"))
                for (std::size_t end = top.size(); lines.insert(key.substr(0, end)), end != std::string::npos;)
                    end = key.find('\\', end + 1);
    }
    return lines;
}

// "- " each expected line that is missing, "+ " each line that is not expected.
std::string registry_difference(const std::set<std::string>& expected)
{
    std::set<std::string> actual;
    for (const std::string& top : registration_tops)
        registry_dump(user, widen(top), actual);
    std::string difference;
    for (const std::string& line : expected)
        difference += actual.count(line) ? "" : "- " + line + "\n";
    for (const std::string& line : actual)
        difference += expected.count(line) ? "" : "+ " + line + "\n";
    return difference;
}

std::map<std::string, std::string> values_for(const std::wstring& program, const std::string& configdir_suffix = "",
                                              const std::wstring& icon_file = L"",
                                              const std::string& product = "Corvane-Pro")
{
    return {{"<program>", narrow(program)},
            {"<command>", "\"" + narrow(program) + "\" -url \"%1\"" + configdir_suffix},
            {"<icon>", narrow(icon_file.empty() ? program : icon_file) + ",0"},
            {"<name>", "Feldrun " + product + " Browserweiche"},
            {"<product>", product}};
}

TEST(Registration, NewerWindowsWritesTheRowsAndOpensTheDefaultProgramsPage)
{
    clean_registry registry(L"win10");
    sandbox box;
    // The prefix's control.exe replaced by the stand-in, which records how the
    // Default Programs page was asked for. Wine runs its own built-in
    // control.exe unless told to prefer the file on disk.
    write_string(user, L"Software\\Wine\\DllOverrides", L"control.exe", L"native");
    const program_aside control(system_folder() + L"\\control.exe", &box);
    // On this system the choice is the user's, even with the .html workaround on.
    box.put(L"ostrilo.cfg", "product_name=Acme Remote\r\nlotus_notes_html_workaround=1\r\n");
    const run_result run = box.run(L"-setregistry");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(run.boxes.empty());
    const auto values = values_for(box.exe(), "", L"", "Acme Remote");
    EXPECT_EQ(registry_difference(expected_lines(registration_rows, values)), "");
    const std::string command = narrow(control.path) +
                                " /name Microsoft.DefaultPrograms /page pageDefaultProgram\\pageAdvancedSettings"
                                "?pszAppName=Feldrun%20Acme%20Remote%20Browserweiche";
    EXPECT_TRUE(calls_of(control.path).starts_with(command + "\n"));
    for (const std::string& record : std::vector<std::string>{
             "DEBUG This is setregistry. Starting set_ostrilo_registry()",
             "DEBUG Windows version is 8 or newer. Launching settings so that the user can set Feldrun as default "
             "browser manually.",
             "DEBUG Calling: <" + command + ">", "DEBUG sw_call: <" + values.at("<command>") + ">"})
        EXPECT_TRUE(run.has(record)) << record << "\n" << run.err;
    EXPECT_NE(run.out.find("Ostrilo.exe found in " + narrow(box.exe()) + ", setting registry entries."),
              std::string::npos);
    EXPECT_GT(run.find("TRACE returning from set_ostrilo_registry()"), run.find("DEBUG Send SHChangeNotify now"));
    RegDeleteKeyValueW(user, L"Software\\Wine\\DllOverrides", L"control.exe");
}

TEST(Registration, OlderWindowsAlsoWritesTheChoicesWithOpenCommandAndIconOfTheRun)
{
    const struct {
        const char* behaviour;
        const wchar_t* program_folder = L"";  // below the sandbox root; empty: the sandbox's own
        const wchar_t* arguments = L"";       // behind -setregistry
        const char* configdir_suffix = "";    // what the open command carries behind "%1"
        bool viewer_installed = false;
        bool workaround = false;               // lotus_notes_html_workaround=1: the .html rows are written
        bool choice_subkey = false;            // the earlier .html UserChoice has a subkey
        const wchar_t* http_choice = nullptr;  // the ProgId of the earlier http UserChoice
        bool html_class_deleted = false;       // Internet Explorer was the default: the user's .html class goes
        int runs = 1;
    } cases[] = {
        {"plain"},
        {"path with blanks and non-ASCII, and -configdir", L"Pr\u00F6gram Files \u00FC\u20AC",
         L" -configdir \"C:\\My Config\\\\\"", " -configdir \"C:\\My Config\""},
        {.behaviour = "installed viewer gives the icon", .viewer_installed = true},
        // The second run gives the same registry; the machine-wide DDE
        // commands are gone by then, which only adds an error record each.
        {.behaviour = "workaround, run twice", .workaround = true, .runs = 2},
        {.behaviour = "workaround, UserChoice with a subkey stays", .workaround = true, .choice_subkey = true},
        {.behaviour = "IE as default in any letter case", .http_choice = L"Ie.HtTp", .html_class_deleted = true},
        {.behaviour = "IE within a longer ProgId", .http_choice = L"Microsoft.IE.HTTP.1", .html_class_deleted = true},
        {.behaviour = "another browser as default", .http_choice = L"ChromeHTML"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        clean_registry registry(L"win7");
        sandbox box;
        std::wstring program = box.exe();
        if (*c.program_folder) {
            program = box.root + L"\\" + c.program_folder + L"\\Ostrilo.exe";
            write_file(program, "");
            CopyFileW(box.exe().c_str(), program.c_str(), FALSE);
        }
        const std::wstring viewer = c.viewer_installed ? box.install_path + L"\\vncviewer.exe" : L"";
        if (c.viewer_installed)
            write_file(viewer, "viewer");
        if (c.workaround)
            box.put(L"ostrilo.cfg", "lotus_notes_html_workaround=1\r\n");
        // Where the user may change the machine-wide classes, the old DDE
        // commands go, with the tree below them.
        for (const wchar_t* key : machine_dde)
            write_string(HKEY_LOCAL_MACHINE, std::wstring(key) + L"\\Application", L"", L"x");
        // An earlier .html UserChoice: the workaround deletes it as a single
        // key (which fails when it has a subkey) and writes the Progid into it.
        std::string rows = registration_rows + forced_rows + (c.workaround ? html_workaround_rows : "");
        write_string(user, html_user_choice, L"Hash", L"old");
        if (!c.workaround || c.choice_subkey)
            rows += "$FE\\UserChoice [Hash]=old\n";
        if (c.choice_subkey) {
            write_string(user, std::wstring(html_user_choice) + L"\\Child", L"", L"x");
            rows += "$FE\\UserChoice\\Child []=x\n";
        }
        write_string(user, L"Software\\Classes\\.html\\OpenWithProgids", L"", L"OtherBrowserHTML");
        if (!c.html_class_deleted)
            rows += "$C\\.html\\OpenWithProgids []=OtherBrowserHTML\n";
        if (c.http_choice)
            write_string(user, L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice",
                         L"Progid", c.http_choice);

        run_result run;
        for (int i = 0; i < c.runs; ++i)
            run = box.run_command_line(L"\"" + program + L"\" -setregistry" + c.arguments);
        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_EQ(registry_difference(expected_lines(rows, values_for(program, c.configdir_suffix, viewer))), "");
        for (const wchar_t* key : machine_dde) {
            HKEY left = nullptr;
            EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &left), ERROR_SUCCESS);
            EXPECT_EQ(run.has("ERROR An error ocurred while deleting key tree from HKEY_LOCAL_MACHINE registry (" +
                              narrow(key) + ")"),
                      c.runs == 2);
        }
        // The deletion of the earlier .html UserChoice fails when it has a subkey.
        if (c.workaround)
            EXPECT_TRUE(run.has(c.choice_subkey ? "WARN RegDeleteKeyW(" + narrow(html_user_choice) + ") failed"
                                                : "TRACE RegDeleteKeyW(" + narrow(html_user_choice) + ") succeeeded"));
        EXPECT_TRUE(run.has("DEBUG Windows version is 7 or older. Force-setting Feldrun as default browser."));
    }
}

TEST(Removal, DeletesProgIdsClientAndRegisteredApplicationAndLeavesTheRest)
{
    const struct {
        const wchar_t* option;
        const char* config;
        const char* product;
        bool registered;  // -setregistry ran before
    } cases[] = {{L"-resetregistry", "", "Corvane-Pro", true},
                 {L"-unsetregistry", "product_name=Acme\r\n", "Acme", true},
                 {L"-resetregistry", "", "Corvane-Pro", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.option) + (c.registered ? "" : " without registration"));
        clean_registry registry(L"win7");
        sandbox box;
        box.put(L"ostrilo.cfg", c.config);
        write_string(user, L"Software\\RegisteredApplications", L"Other Browser", L"Other\\Capabilities");
        if (c.registered)
            ASSERT_EQ(box.run(L"-setregistry").exit_code, 0u);
        const run_result run = box.run(c.option);
        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.boxes.empty());

        // Left in place: the program path, the StartMenuInternet default, the
        // forced rows and other applications.
        std::string kept = "Software\\RegisteredApplications [Other Browser]=Other\\Capabilities\n";
        std::istringstream rows(registration_rows + forced_rows);
        for (std::string row; c.registered && std::getline(rows, row);)
            if (!row.starts_with("$C\\NB.") && !row.starts_with("$SMI") && !row.starts_with("Software\\Registered"))
                kept += row + "\n";
        EXPECT_EQ(registry_difference(expected_lines(kept, values_for(box.exe(), "", L"", c.product))), "");

        // Each key that is not there gets an error record; the notification follows all the same. The
        // key below RegisteredApplications is never made by the registration.
        EXPECT_TRUE(run.has("DEBUG This is resetregistry. Starting reset_ostrilo_registry()"));
        const std::string error = "ERROR An error ocurred while deleting key tree from HKEY_CURRENT_USER registry (";
        EXPECT_TRUE(run.has(error + "Software\\RegisteredApplications\\Feldrun " + c.product + " Browserweiche)"));
        EXPECT_EQ(run.has(error + "Software\\Clients\\StartMenuInternet\\OSTRILO.EXE)"), !c.registered);
        EXPECT_TRUE(
            run.has("DEBUG Done! Sending SHChangeNotify (this tells Windows that there's been a change in "
                    "some standard program and Windows sets it to its default.)"));
    }
}

}  // namespace
