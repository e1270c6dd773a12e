// -setregistry, -resetregistry and -unsetregistry as an administrator sees
// them: the current user's registry read back, the Control Panel start on
// newer Windows, and the log.
#include "sandbox.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <sstream>

namespace {

const HKEY user = HKEY_CURRENT_USER;
const std::wstring html_user_choice =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice";
const wchar_t* const machine_dde[] = {L"Software\\Classes\\http\\shell\\open\\ddeexec",
                                      L"Software\\Classes\\https\\shell\\open\\ddeexec"};

// Expected lines "key [value name]=data" (REG_SZ), or "key" for a key with neither values nor subkeys, by
// block. $M abbreviates the client key; a line with $S and $P stands for http with NB.HTTP and for https with
// NB.HTTPS; <...> are what the run works out.
const std::map<char, std::string> blocks = {
    // R: the registration that removal takes away again.
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
Software\RegisteredApplications [Feldrun Acme Remote Browserweiche]=$M\Capabilities
)"},
    // K: the registration that removal leaves.
    {'K', R"(Software\Microsoft\Windows\CurrentVersion\App Paths\Ostrilo.exe []=<program>
Software\Clients\StartMenuInternet []=OSTRILO.EXE
)"},
    // F: Windows 7 and older, the choices themselves; W: with the .html workaround as well.
    {'F', R"(Software\Classes\$S\DefaultIcon []=<icon>
Software\Classes\$S\shell\open\command []=<command>
Software\Microsoft\Windows\Shell\Associations\UrlAssociations\$S\UserChoice [Progid]=$P
)"},
    {'W', R"(Software\Classes\.html []=NB.HTML
Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.html\OpenWithList [MRUList]=a
Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.html\OpenWithList [a]=Ostrilo.exe
Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.html\UserChoice [Progid]=NB.HTML
)"},
    // Set up before the runs: H an earlier .html UserChoice, S a subkey of it, O another browser's .html class.
    {'H', "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice [Hash]=old\n"},
    {'S', "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice\\Child []=x\n"},
    {'O', "Software\\Classes\\.html\\OpenWithProgids []=OtherBrowserHTML\n"}};

// The blocks named by `letters` and another application's entry, sorted, abbreviations and values filled in.
std::string expected(const std::string& letters, std::map<std::string, std::string> values)
{
    values["$M"] = "Software\\Clients\\StartMenuInternet\\OSTRILO.EXE";
    std::string rows = "Software\\RegisteredApplications [Other Browser]=Other\\Capabilities\n", text;
    for (const char letter : letters)
        rows += blocks.at(letter);
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

// The same form read from the registry: a key alone only when it has neither values nor subkeys.
std::string registry_text()
{
    std::set<std::string> lines;
    for (const std::string& top : registration_tops)
        registry_dump(user, widen(top), lines);
    std::string text;
    for (auto line = lines.begin(); line != lines.end(); ++line)
        if (std::next(line) == lines.end() || !std::next(line)->starts_with(*line))
            text += *line + "\n";
    return text;
}

TEST(Registration, LeavesTheRegistryAsAdministratorsExpect)
{
    // Each row: product_name=Acme Remote, the program in a folder with blanks and non-ASCII letters; set up
    // before the runs: blocks H and O, another application's entry, machine-wide DDE commands and the Control
    // Panel as a stand-in.
    // clang-format off
    const struct {
        const char* behaviour;
        bool newer, workaround, installed, subkey;  // installed: a viewer (giving the icon) and -configdir
        const wchar_t* http_choice;                 // the ProgId of an earlier http UserChoice
        int runs;                                   // of -setregistry
        const wchar_t* removal;                     // run after them
        const char* blocks;                         // expected afterwards
    } cases[] = {
        {"newer Windows: the Control Panel, no choices", true, true, false, false, nullptr, 1, nullptr, "RKHO"},
        {"older Windows, another browser the default", false, false, false, false, L"ChromeHTML", 1, nullptr, "RKFHO"},
        {"an installed viewer's icon, -configdir", false, false, true, false, nullptr, 1, nullptr, "RKFHO"},
        {"the .html workaround, run twice", false, true, false, false, nullptr, 2, nullptr, "RKFWO"},
        {"the workaround keeps a UserChoice with a subkey", false, true, false, true, nullptr, 1, nullptr, "RKFWHSO"},
        {"IE the default, in any letter case", false, false, false, false, L"Microsoft.iE.HtTp.1", 1, nullptr, "RKFH"},
        {"-resetregistry", false, false, false, false, nullptr, 1, L"-resetregistry", "KFHO"},
        {"-unsetregistry", false, false, false, false, nullptr, 1, L"-unsetregistry", "KFHO"},
        {"-resetregistry without a registration", false, false, false, false, nullptr, 0, L"-resetregistry", "HO"},
    };
    // clang-format on
    // Wine runs its own built-in control.exe unless told to prefer the file on disk.
    write_string(user, L"Software\\Wine\\DllOverrides", L"control.exe", L"native");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        clean_registry registry(c.newer ? L"win10" : L"win7");
        sandbox box;
        const program_aside control(system_folder() + L"\\control.exe", &box);
        const std::wstring folder = box.root + L"\\Pr\u00F6gram Files \u00FC\u20AC",
                           program = folder + L"\\Ostrilo.exe";
        const std::wstring viewer = box.install_path + L"\\vncviewer.exe";
        write_file(box.cwd + L"\\ostrilo.cfg",
                   "product_name=Acme Remote\r\nlotus_notes_html_workaround=" + std::to_string(c.workaround));
        write_file(program, "");  // the folder
        CopyFileW(box.exe().c_str(), program.c_str(), FALSE);
        if (c.installed)
            write_file(viewer, "viewer");
        write_string(user, L"Software\\RegisteredApplications", L"Other Browser", L"Other\\Capabilities");
        write_string(user, L"Software\\Classes\\.html\\OpenWithProgids", L"", L"OtherBrowserHTML");
        write_string(user, html_user_choice, L"Hash", L"old");
        if (c.subkey)
            write_string(user, html_user_choice + L"\\Child", L"", L"x");
        if (c.http_choice)
            write_string(user, L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice",
                         L"Progid", c.http_choice);
        for (const wchar_t* key : machine_dde)
            write_string(HKEY_LOCAL_MACHINE, std::wstring(key) + L"\\Application", L"", L"x");

        run_result run;
        for (int i = 0; i < c.runs; ++i)
            run = box.run_command_line(L"\"" + program + L"\" -setregistry" +
                                       (c.installed ? L" -configdir \"C:\\My Config\\\\\"" : L""));
        if (c.removal)
            run = box.run_command_line(L"\"" + program + L"\" " + c.removal);
        EXPECT_EQ(run.exit_code, 0u);
        EXPECT_TRUE(run.boxes.empty());
        const std::string command =
            "\"" + narrow(program) + "\" -url \"%1\"" + (c.installed ? " -configdir \"C:\\My Config\"" : "");
        EXPECT_EQ(registry_text(), expected(c.blocks, {{"<program>", narrow(program)},
                                                       {"<command>", command},
                                                       {"<icon>", narrow(c.installed ? viewer : program) + ",0"}}));
        // Older Windows deletes them with their tree.
        for (const wchar_t* key : machine_dde)
            EXPECT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, key) == ERROR_SUCCESS, c.newer || !c.runs);
        EXPECT_EQ(parameters_of(calls_of(control.path, c.newer)),
                  c.newer ? "/name Microsoft.DefaultPrograms /page pageDefaultProgram\\pageAdvancedSettings"
                            "?pszAppName=Feldrun%20Acme%20Remote%20Browserweiche"
                          : "");
        // A key that is not there gets an error record (the one below RegisteredApplications is never made).
        const std::string error = "ERROR An error ocurred while deleting key tree from HKEY_CURRENT_USER registry (";
        EXPECT_EQ(run.has(error + "Software\\RegisteredApplications\\Feldrun Acme Remote Browserweiche)"), !!c.removal);
        EXPECT_EQ(run.has(error + "Software\\Clients\\StartMenuInternet\\OSTRILO.EXE)"), !c.runs);
        EXPECT_EQ(run.has("WARN RegDeleteKeyW(" + narrow(html_user_choice) + ") failed"), c.subkey);
    }
    RegDeleteKeyValueW(user, L"Software\\Wine\\DllOverrides", L"control.exe");
}

}  // namespace
