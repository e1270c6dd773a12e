// -setregistry, -resetregistry and -unsetregistry as an administrator sees them: the current user's
// registry read back, and the Control Panel start on newer Windows.
#include "sandbox.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <sstream>

namespace {

const wchar_t* const machine_dde[] = {L"Software\\Classes\\http\\shell\\open\\ddeexec",
                                      L"Software\\Classes\\https\\shell\\open\\ddeexec"};

// Expected lines "key [value name]=data" (REG_SZ), or "key" for a key with neither values nor subkeys, by
// block: R the registration that removal takes away again, K the part it leaves, F the choices on Windows 7
// and older, W those of the .html workaround; set up before the runs: H an earlier .html UserChoice, S one
// with a subkey, O another browser's .html class. $M abbreviates the client key; a line with $S and $P stands
// for http with NB.HTTP and for https with NB.HTTPS; <...> are what the run works out.
const std::map<char, std::string> blocks = {
    {'R', R"(Software\Classes\NB.HTML []=Ostrilo HTML
Software\Classes\NB.HTML [FriendlyTypeName]=Ostrilo HTML
Software\Classes\NB.HTML\DefaultIcon []=<icon>
Software\Classes\NB.HTML\shell []=open
Software\Classes\NB.HTML\shell\open\command []=<command>
Software\Classes\NB.HTML\shell\open\ddexec
Software\Classes\$P []=Ostrilo URL
Software\Classes\$P [FriendlyTypeName]=Ostrilo URL
Software\Classes\$P [URLProtocol]=
Software\Classes\$P\DefaultIcon []=<icon>
Software\Classes\$P\shell []=open
Software\Classes\$P\shell\open\command []=<command>
$M []=Feldrun Acme Remote Browserweiche
$M\Capabilities [ApplicationDescription]=Öffnet Links im Acme Remote Viewer oder im lokalen Browser.
$M\Capabilities [ApplicationIcon]=<icon>
$M\Capabilities [ApplicationName]=Feldrun Acme Remote Browserweiche
$M\Capabilities\FileAssociations [.htm]=NB.HTML
$M\Capabilities\FileAssociations [.html]=NB.HTML
$M\Capabilities\URLAssociations [$S]=$P
$M\DefaultIcon []=<icon>
$M\InstallInfo
$M\shell\open\command []=<command>
Software\RegisteredApplications [Feldrun Acme Remote Browserweiche]=$M\Capabilities)"},
    {'K', R"(Software\Microsoft\Windows\CurrentVersion\App Paths\Ostrilo.exe []=<program>
Software\Clients\StartMenuInternet []=OSTRILO.EXE)"},
    {'F', R"(Software\Classes\$S\DefaultIcon []=<icon>
Software\Classes\$S\shell\open\command []=<command>
Software\Microsoft\Windows\Shell\Associations\UrlAssociations\$S\UserChoice [Progid]=$P)"},
    {'W', R"(Software\Classes\.html []=NB.HTML
Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.html\OpenWithList [MRUList]=a
Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.html\OpenWithList [a]=Ostrilo.exe
Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.html\UserChoice [Progid]=NB.HTML)"},
    {'H', "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice [Hash]=old"},
    {'S', "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice\\Child [Hash]=old"},
    {'O', "Software\\Classes\\.html\\OpenWithProgids []=OtherBrowserHTML"}};

// The blocks named by `letters` and another application's entry, sorted, abbreviations and values filled in.
std::string expected(const std::string& letters, std::map<std::string, std::string> values)
{
    values["$M"] = "Software\\Clients\\StartMenuInternet\\OSTRILO.EXE";
    std::string rows = "Software\\RegisteredApplications [Other Browser]=Other\\Capabilities\n", text;
    for (const char letter : letters)
        rows += blocks.at(letter) + "\n";
    std::set<std::string> lines;
    for (const char* progid : {"NB.HTTP", "NB.HTTPS"}) {
        values["$P"] = progid;
        values["$S"] = progid[7] ? "https" : "http";
        std::istringstream in(rows);
        for (std::string line; std::getline(in, line); lines.insert(line))
            for (const auto& [name, value] : values)
                for (std::size_t at; (at = line.find(name)) != std::string::npos;)
                    line.replace(at, name.size(), value);
    }
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

const std::string control_panel_step = "the user chooses Ostrilo on the Default Programs page of the Control Panel";
const std::string forced_step = "made the default for http and https (Windows 7 and older)";

TEST(Registration, LeavesTheRegistryAsAdministratorsExpect)
{
    // Product Acme Remote, the program in a folder with blanks and non-ASCII letters, the Control Panel as a
    // stand-in; set up: blocks H (or S) and O, another application's entry, machine-wide DDE commands.
    // clang-format off
    const struct {
        const char *behaviour, *blocks;             // blocks: expected afterwards
        bool newer, workaround, installed, subkey;  // installed: a viewer (giving the icon) and -configdir
        const wchar_t *http_choice, *then;          // the ProgId of an earlier http UserChoice; run after -setregistry
    } cases[] = {
        {"newer Windows: the Control Panel, no choices", "RKHO", true, true, false, false, nullptr, nullptr},
        {"older Windows, a viewer's icon, -configdir", "RKFHO", false, false, true, false, L"ChromeHTML", nullptr},
        {"the .html workaround, run twice", "RKFWO", false, true, false, false, nullptr, L"-setregistry"},
        {"the workaround keeps a UserChoice with a subkey", "RKFWSO", false, true, false, true, nullptr, nullptr},
        {"IE the default, in any letter case", "RKFH", false, false, false, false, L"Microsoft.iE.HtTp.1", nullptr},
        {"-resetregistry", "KFHO", false, false, false, false, nullptr, L"-resetregistry"},
    };
    // clang-format on
    // Wine runs its own built-in control.exe unless told to prefer the file on disk.
    write_string(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"control.exe", L"native");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        clean_registry registry(c.newer ? L"win10" : L"win7");
        sandbox box;
        box.env[L"WINEDEBUG"] = event_debug;
        const program_aside control(system_folder() + L"\\control.exe", &box);
        const std::wstring program = box.root + L"\\Pr\u00F6gram Files \u00FC\u20AC\\Ostrilo.exe";
        const std::wstring viewer = box.install_path + L"\\vncviewer.exe";
        write_file(
            box.cwd + L"\\ostrilo.cfg",
            "product_name=Acme Remote\r\nevent_log=1\r\nlotus_notes_html_workaround=" + std::to_string(c.workaround));
        write_file(program, "");
        CopyFileW(box.exe().c_str(), program.c_str(), FALSE);
        if (c.installed)
            write_file(viewer, "viewer");
        write_string(HKEY_CURRENT_USER, L"Software\\RegisteredApplications", L"Other Browser", L"Other\\Capabilities");
        write_string(HKEY_CURRENT_USER, L"Software\\Classes\\.html\\OpenWithProgids", L"", L"OtherBrowserHTML");
        const std::wstring choice =
            L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice";
        write_string(HKEY_CURRENT_USER, choice + (c.subkey ? L"\\Child" : L""), L"Hash", L"old");
        if (c.http_choice)
            write_string(HKEY_CURRENT_USER,
                         L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice",
                         L"Progid", c.http_choice);
        for (const wchar_t* key : machine_dde)
            write_string(HKEY_LOCAL_MACHINE, std::wstring(key) + L"\\Application", L"", L"x");

        run_result run = box.run_command_line(L"\"" + program + L"\" -setregistry" +
                                              (c.installed ? L" -configdir \"C:\\My Config\\\\\"" : L""));
        if (c.then)
            run = box.run_command_line(L"\"" + program + L"\" " + c.then);
        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.boxes.empty());
        std::set<std::string> lines;
        for (const std::string& top : registration_tops)
            registry_dump(HKEY_CURRENT_USER, widen(top), lines);
        std::string actual;  // the same form: a key alone only when it has neither values nor subkeys
        for (auto line = lines.begin(); line != lines.end(); ++line)
            if (std::next(line) == lines.end() || !std::next(line)->starts_with(*line))
                actual += *line + "\n";
        const std::string configdir = c.installed ? " -configdir \"C:\\My Config\"" : "";
        EXPECT_EQ(actual, expected(c.blocks, {{"<program>", narrow(program)},
                                              {"<command>", "\"" + narrow(program) + "\" -url \"%1\"" + configdir},
                                              {"<icon>", narrow(c.installed ? viewer : program) + ",0"}}));
        // The last run's event names the Windows version and the step that makes Ostrilo the default.
        const std::string version = c.newer ? " | 10.0.18362" : " | 6.1.7601";
        EXPECT_EQ(run.events(), c.then && c.then[1] != L's'
                                    ? "\nevent information 101: Feldrun Acme Remote Browserweiche" + version
                                    : "\nevent information 100: \"" + narrow(program) + "\" -url \"%1\"" + configdir +
                                          version + " | " + (c.newer ? control_panel_step : forced_step));
        EXPECT_EQ(run.has("WARN RegDeleteKeyW(" + narrow(choice) + ") failed"), c.subkey);  // the workaround's deletion
        for (const wchar_t* key : machine_dde)  // older Windows deletes them with their tree
            EXPECT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, key) == ERROR_SUCCESS, c.newer);
        EXPECT_EQ(parameters_of(calls_of(control.path, c.newer)),
                  c.newer ? "/name Microsoft.DefaultPrograms /page pageDefaultProgram\\pageAdvancedSettings"
                            "?pszAppName=Feldrun%20Acme%20Remote%20Browserweiche"
                          : "");
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"control.exe");
}

TEST(Registration, SettingsPageOpensThePageThatFitsTheWindowsVersion)
{
    // A stand-in handles ms-settings. Wine 8 knows no "win11": without a Version value it reports the prefix's
    // CurrentVersion and CurrentBuild, so Windows 11 is set there (windows: nullptr); UBR is the update.
    const std::string own = "ms-settings:defaultapps?registeredAppUser=Feldrun%20Acme%20%26%20Co%20Browserweiche";
    const std::string list = "ms-settings:defaultapps", to_list = ": opening the Default apps list of Settings: <";
    const std::string to_own = ": opening the Default apps page of this application: <";
    const struct {
        const wchar_t *windows, *build;
        DWORD update;
        std::string cfg, settings, record;  // what Settings got (none: the Control Panel), the record
    } cases[] = {
        {L"win81", L"7601", 1817, "settings_page=1", "",
         "6.3 build 9600.1817 has no Default apps page in Settings; opening the Control Panel page"},
        {L"win10", L"7601", 0, "settings_page=1", list, "10.0 build 18362.0" + to_list + list + ">"},
        {nullptr, L"22000", 1816, "settings_page=1", list, "10.0 build 22000.1816" + to_list + list + ">"},
        {nullptr, L"22000", 1817, "settings_page=1", own, "10.0 build 22000.1817" + to_own + own + ">"},
        {nullptr, L"22631", 0, "settings_page=1", own, "10.0 build 22631.0" + to_own + own + ">"},
        {nullptr, L"22000", 1817, "", "", ""},
    };
    const std::wstring current = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    write_string(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"control.exe", L"native");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record);
        clean_registry registry(c.windows ? c.windows : L"");
        if (!c.windows)
            RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Ostrilo.exe", L"Version");
        write_string(HKEY_LOCAL_MACHINE, current, L"CurrentVersion", c.windows ? L"6.1" : L"10.0");
        write_string(HKEY_LOCAL_MACHINE, current, L"CurrentBuildNumber", c.build);
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, current.c_str(), L"UBR", REG_DWORD, &c.update, sizeof(DWORD));
        sandbox box;
        const program_aside control(system_folder() + L"\\control.exe", &box);
        const scoped_key handler(HKEY_LOCAL_MACHINE, L"Software\\Classes\\ms-settings");
        const std::wstring settings = box.root + L"\\settings.exe";
        box.standin(settings);
        write_string(HKEY_LOCAL_MACHINE, handler.path, L"URL Protocol", L"");
        write_string(HKEY_LOCAL_MACHINE, handler.path + L"\\shell\\open\\command", L"",
                     L"\"" + settings + L"\" \"%1\"");
        box.put(L"ostrilo.cfg", "product_name=Acme & Co\r\nevent_log=1\r\n" + c.cfg + "\r\n");
        box.env[L"WINEDEBUG"] = event_debug;
        const run_result run = box.run(L"-setregistry -log");
        write_string(HKEY_LOCAL_MACHINE, current, L"CurrentVersion", L"6.1");
        write_string(HKEY_LOCAL_MACHINE, current, L"CurrentBuildNumber", L"7601");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, current.c_str(), L"UBR");
        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_EQ(parameters_of(calls_of(control.path, c.settings.empty())).starts_with("/name Microsoft.Default"),
                  c.settings.empty());
        EXPECT_EQ(parameters_of(calls_of(settings, !c.settings.empty())),
                  c.settings.empty() ? "" : '"' + c.settings + '"');
        EXPECT_EQ(run.count("DEBUG settings_page: Windows " + c.record), c.record.empty() ? 0 : 1);
        EXPECT_TRUE(run.events().ends_with(c.settings.empty() ? control_panel_step
                                                              : "the user chooses Ostrilo in Settings: " + c.settings))
            << run.events();
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"control.exe");
}

// The Active Setup command as Windows runs it at a user's logon (Wine runs no Active Setup): the registration, no
// window; the RunOnce value it may leave, run as Windows runs it once the desktop has started (deleted first), opens
// the page once; the command at the next logon (as after an upgrade) asks no more; -resetregistry forgets the asking.
TEST(Registration, AtLogonShowsNoWindowAndAsksOnceAfterTheDesktopHasStartedWhileHttpIsNotOstrilos)
{
    const wchar_t *ostrilo = L"NB.HTTP|NB.HTTPS", *edge = L"MSEdgeHTM|MSEdgeHTM", *asked = L"default_browser_asked";
    const std::wstring run_once = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                       prompt_value = L"Ostrilo default browser";
    // clang-format off
    const struct {
        const char* behaviour;
        const wchar_t *windows, *at_logon, *later;  // the user's http|https ProgIds at logon, and once the desktop has started
        std::string cfg;
        const wchar_t* installed;  // the value that the MSI property DEFAULT_BROWSER_PROMPT wrote
        bool arranged, asked;      // a RunOnce value written at logon; the page opened by it
    } cases[] = {
        {"a new user", L"win10", L"", L"", "", nullptr, true, true},
        {"another default browser, strict_command_line", L"win10", edge, edge, "strict_command_line=1", nullptr, true, true},
        {"only http Ostrilo's", L"win10", L"NB.HTTP|MSEdgeHTM", L"", "", nullptr, true, true},
        {"Ostrilo's once the desktop has started", L"win10", edge, ostrilo, "", nullptr, true, false},
        {"Ostrilo's at logon", L"win10", ostrilo, L"", "", nullptr, false, false},
        {"default_browser_prompt=0", L"win10", edge, L"", "default_browser_prompt=0", nullptr, false, false},
        {"the MSI property 0", L"win10", edge, L"", "", L"0", false, false},
        {"ostrilo.cfg before the MSI property", L"win10", edge, L"", "default_browser_prompt=1", L"0", true, true},
        {"Windows 7: the default written, as by hand", L"win7", edge, L"", "", nullptr, false, false},
    };
    // clang-format on
    const auto user_string = [](const std::wstring& key, const std::wstring& name) {
        wchar_t text[1024] = {};
        DWORD size = sizeof(text);
        RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, text, &size);
        return narrow(text);
    };
    const auto choose = [](const std::wstring& progids) {
        const std::wstring key = L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http";
        for (const auto& [scheme, progid] : {std::pair{key, progids.substr(0, progids.find(L'|'))},
                                             std::pair{key + L"s", progids.substr(progids.find(L'|') + 1)}})
            if (!progid.empty())
                write_string(HKEY_CURRENT_USER, scheme + L"\\UserChoice", L"ProgId", progid);
    };
    write_string(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"control.exe", L"native");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        clean_registry registry(c.windows);
        sandbox box;
        const program_aside control(system_folder() + L"\\control.exe", &box);
        const scoped_key installation(HKEY_LOCAL_MACHINE, L"Software\\Ostrilo");
        if (c.installed)
            write_string(HKEY_LOCAL_MACHINE, installation.path, L"default_browser_prompt", c.installed);
        box.put(L"ostrilo.cfg", c.cfg);
        choose(c.at_logon);
        const run_result logon = box.run(L"-setregistry -atlogon");
        EXPECT_TRUE(logon.exit_code == 0 && logon.boxes.empty());
        EXPECT_NE(user_string(L"Software\\Classes\\NB.HTTP\\shell\\open\\command", L""), "");
        const std::string prompt = user_string(run_once, prompt_value);
        EXPECT_EQ(prompt, c.arranged ? "\"" + narrow(box.exe()) + "\" -choosedefault" : "");
        RegDeleteKeyValueW(HKEY_CURRENT_USER, run_once.c_str(), prompt_value.c_str());
        choose(c.later);
        box.run_command_line(prompt.empty() ? L"cmd /c exit" : widen(prompt));
        box.run(L"-setregistry -atlogon");
        EXPECT_EQ(user_string(run_once, prompt_value), "");
        const std::string calls = calls_of(control.path, c.asked);  // the only start: the prompt's
        EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), c.asked ? 2 : 0);
        EXPECT_EQ(parameters_of(calls).starts_with("/name Microsoft.DefaultPrograms /page"), c.asked);
        EXPECT_EQ(user_string(L"Software\\Ostrilo", asked), c.asked ? "Feldrun Corvane-Pro Browserweiche" : "");
        box.run(L"-resetregistry");
        EXPECT_EQ(user_string(L"Software\\Ostrilo", asked), "");
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"control.exe");
}

}  // namespace
