// ostrilo-admin tells the truth: `explain --json` predicts what Ostrilo.exe then does with the same rule
// files, and `status` reads a registration back as Ostrilo.exe wrote it.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <array>
#include <wincrypt.h>

namespace {

// A rule for each kind of route, Firefox beside the program (the shell finds it there), and a viewer that
// does not run, so that Ostrilo starts it with the encoded hand-off text.
std::wstring set_up(const sandbox& box)
{
    box.put(L"url_whitelist.txt", "*.a.example/*|local|firefox\r\nb.example/*|remote|chrome|work\r\nc.example/*|x\r\n");
    box.standin(box.program_dir + L"\\firefox.exe");
    box.standin(box.program_dir + L"\\vncviewer.exe", L"vncviewer_2_1_4");
    box.standin(box.program_dir + L"\\ostrilo-admin.exe", L"ostrilo-admin");
    return L"\"" + box.program_dir + L"\\ostrilo-admin.exe\" ";
}

TEST(AdminExplain, PredictsWhatOstriloThenDoesWithTheSameRules)
{
    // Local, remote (kvxps as https), no rule, neither local nor remote; with the opt-in keys, a path posing
    // as the host goes on to no rule, and a smuggled switch stays in the one argument.
    const std::pair<std::string, const char*> cases[] = {
        {"https://www.a.example/a?b=1", ""},
        {"kvxps://b.example/x?q=\xc3\xa4", ""},
        {"http://elsewhere.test/p q", ""},
        {"https://c.example/", ""},
        {"https://evil.test/x.a.example/", "strict_host_match=1\r\n"},
        {"https://www.a.example/?q=1 --flag=c", "safe_browser_arguments=1\r\n"},
        // A wrapped link, looked up by the link inside: the wrapped one opened with 1, the inner one with 2.
        {"https://x.safelinks.protection.outlook.com/?url=https%3A%2F%2Fwww.a.example%2Fw", "unwrap_links=1\r\n"},
        {"https://x.safelinks.protection.outlook.com/?url=https%3A%2F%2Fwww.a.example%2Fw", "unwrap_links=2\r\n"},
    };
    for (const auto& [url, cfg] : cases) {
        SCOPED_TRACE(url);
        sandbox box;
        const std::wstring admin = set_up(box);
        box.put(L"ostrilo.cfg", cfg);
        const run_result explained = box.run_command_line(admin + L"explain --json \"" + widen(url) + L"\"");
        EXPECT_EQ(explained.err, "");  // the product's log records are not the tool's output
        const nlohmann::json prediction = nlohmann::json::parse(explained.out).at(0);
        // Ostrilo.exe creates %APPDATA%\vnc when it looks there; explain only looks.
        EXPECT_FALSE(path_exists(box.appdata + L"\\vnc"));

        const run_result run = box.run(L"-url \"" + widen(url) + L"\"");
        EXPECT_EQ(run.exit_code, prediction["exit_status"].get<unsigned>());
        const bool local = prediction["action"] == "local";
        EXPECT_TRUE(local || !std::string(cfg).starts_with("unwrap_links")) << "the inner link matches";
        EXPECT_EQ(prediction.value("shell_file", ""), local ? "firefox" : "");
        EXPECT_EQ(parameters_of(calls_of(box.program_dir + L"\\firefox.exe", local)),
                  prediction.value("shell_parameters", ""));
        // The viewer's -initialURL value is the pipe message without its NUL byte.
        const std::string pipe = prediction.value("pipe_bytes", "");
        const std::string started = calls_of(box.program_dir + L"\\vncviewer.exe", !pipe.empty());
        EXPECT_EQ(started.find(" -initialURL \"" + pipe.substr(0, pipe.size() - 1) + "\"\n") != std::string::npos,
                  !pipe.empty());
    }
}

TEST(AdminStatus, ReadsTheRegistrationAndTheChoicesThatSetregistryWrote)
{
    sandbox box;
    const std::wstring admin = set_up(box);
    // Status after -setregistry (nullptr: none) with the .html workaround on older Windows, and then
    // strict_command_line=1; the exit status is 1 when there is something to fix.
    const std::pair<const wchar_t*, std::vector<std::string>> cases[] = {
        // The user picks Ostrilo by the name Windows lists it under.
        {nullptr,
         {"FIX   registration http: HKCU\\Software\\Classes\\NB.HTTP\\shell\\open\\command is missing",
          "FIX   default http (UserChoice): no choice recorded: Windows asks or takes its own -- open Settings > "
          "Apps > Default apps (ms-settings:defaultapps; on Windows 7 Control Panel > Default Programs) and choose "
          "Feldrun Corvane-Pro Browserweiche for it"}},
        {L"",
         {"ok    registration http: opens " + narrow(box.exe()) + " without -configdir",
          "ok    default https (UserChoice): Ostrilo (NB.HTTPS)",
          "ok    strict_command_line: on: no text inside a link",
          "ok    unwrap_links: 2: a link wrapped by mail security is looked up and opened as the link inside it",
          "ok    event_log: 1: the events an administrator acts on go to the Application log; Event Viewer takes their "
          "messages from " +
              narrow(box.exe())}},
        // Registered before the key was set: the folder stands behind the link.
        {L" -configdir C:\\cfg",
         {"FIX   strict_command_line: on, but the open command of http, https, .html does not end in -url"}},
    };
    const scoped_key source(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Ostrilo");
    write_string(HKEY_LOCAL_MACHINE, source.path, L"EventMessageFile", box.exe());
    for (const auto& [switches, lines] : cases) {
        clean_registry registry(L"win7");
        box.put(L"ostrilo.cfg", "lotus_notes_html_workaround=1\r\n");
        if (switches) {
            EXPECT_EQ(box.run(L"-setregistry" + std::wstring(switches)).exit_code, 0u);
        }
        box.put(L"ostrilo.cfg", "strict_command_line=1\r\nunwrap_links=2\r\nevent_log=1\r\n");
        const run_result status = box.run_command_line(admin + L"status");
        EXPECT_EQ(status.exit_code, lines[0].starts_with("FIX") ? 1u : 0u) << status.out;
        for (const std::string& line : lines)
            EXPECT_PRED_FORMAT2(testing::IsSubstring, line, status.out);
    }
    // Without the source (a copy from the zip), Event Viewer would show the events without their messages.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, source.path.c_str());
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "FIX   event_log: 1: the events an administrator acts on go to the "
                        "Application log; the source Ostrilo is not registered",
                        box.run_command_line(admin + L"status").out);
    // A byte order mark hides the first key of ostrilo.cfg from Ostrilo: status and lint say so.
    box.put(L"ostrilo.cfg", "\xEF\xBB\xBFunwrap_links=2\r\n");
    const std::string status = box.run_command_line(admin + L"status").out;
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "ok    unwrap_links: off", status);
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "FIX   ostrilo.cfg: it begins with a UTF-8 byte order mark, so Ostrilo "
                        "never knows its first key 'unwrap_links' -- save it without BOM",
                        status);
    const run_result lint = box.run_command_line(admin + L"lint");  // the finding's text: native_lint_test
    EXPECT_TRUE(lint.exit_code == 2 && lint.out.starts_with(narrow(box.program_dir) + "\\\\ostrilo.cfg:1:1: error"))
        << lint.out;
}

// status names every key's value and source and the policy values it ignores, -setregistry takes its name from
// policy, and explain names a key that changed a decision, with where it was set.
TEST(AdminStatus, NamesEachKeysSourceAndIgnoredPolicyValuesAndExplainTheKeysThatDecided)
{
    const scoped_policies clean;
    sandbox box;
    const std::wstring admin = set_up(box);
    clean_registry registry(L"win7");
    const std::string central = narrow(box.root) + "\\central.txt";
    write_file(widen(central), "central.example/*|x\r\n");
    box.put(L"ostrilo.cfg", "unwrap_links=2\r\nstrict_host_match=1\r\nwhitelist_path=" + central + "\r\n");
    write_policies({{HKEY_LOCAL_MACHINE, L"product_name", REG_SZ, L"Acme Policy"},
                    {HKEY_CURRENT_USER, L"unwrap_links", REG_DWORD, L"1"},
                    {HKEY_LOCAL_MACHINE, L"whitelist_copy", REG_SZ, L"1"}});
    const scoped_key installation(HKEY_LOCAL_MACHINE, L"Software\\Ostrilo");  // as DEFAULT_BROWSER_PROMPT=0 leaves it
    write_string(HKEY_LOCAL_MACHINE, installation.path, L"default_browser_prompt", L"0");
    ASSERT_EQ(box.run(L"-setregistry").exit_code, 0u);
    std::set<std::string> rows;
    registry_dump(HKEY_CURRENT_USER, L"Software\\RegisteredApplications", rows);
    EXPECT_EQ(rows.count("Software\\RegisteredApplications [Feldrun Acme Policy Browserweiche]=Software\\Clients\\"
                         "StartMenuInternet\\OSTRILO.EXE\\Capabilities"),
              1u);
    const std::string cfg = narrow(box.program_dir) + "\\\\ostrilo.cfg";
    const std::string status = box.run_command_line(admin + L"status").out;
    const std::string lines[] = {
        "ok    key product_name: Acme Policy (machine policy)",
        "ok    key unwrap_links: 1 (user policy)",
        "ok    key strict_host_match: 1 (" + cfg + ":2)",
        "ok    key whitelist_timeout_ms: 0 (default)",
        "ok    key default_browser_prompt: 0 (MSI property (HKLM\\Software\\Ostrilo\\default_browser_prompt))",
        "FIX   policy whitelist_copy: HKLM\\Software\\Policies\\Corvane-Pro\\Ostrilo\\whitelist_copy is REG_SZ, not "
        "REG_DWORD: ignored -- set it with the template ostrilo.admx, or as REG_DWORD 0 or 1, or remove it"};
    for (const std::string& line : lines)
        EXPECT_PRED_FORMAT2(testing::IsSubstring, line + "\r\n", status);
    nlohmann::json entry = nlohmann::json::parse(R"({"ok": true, "topic": "key strict_host_match", "fix": "",
        "key": "strict_host_match", "value": "1", "source": "ostrilo.cfg", "line": 2})");
    entry["text"] = "1 (" + cfg + ":2)";
    entry["file"] = cfg;
    const nlohmann::json json = nlohmann::json::parse(box.run_command_line(admin + L"status --json").out);
    EXPECT_EQ(std::count(json.begin(), json.end(), entry), 1) << json.dump();
    // A key is named where it changed the decision, and only there.
    const std::pair<std::string, std::string> explained[] = {
        {"https://x.safelinks.protection.outlook.com/?url=https%3A%2F%2Fwww.a.example%2Fw",
         "  key      unwrap_links=1 (user policy)\r\n"},
        {"https://evil.test/x.a.example/", "  key      strict_host_match=1 (" + cfg + ":2)\r\n"},
        {"https://central.example/", "  key      whitelist_path=" + central + " (" + cfg + ":3)\r\n"},
        {"https://www.a.example/a", "  key "},
    };
    for (const auto& [url, line] : explained) {
        const std::string text = box.run_command_line(admin + L"explain " + widen(url)).out;
        EXPECT_EQ(text.find(line) != std::string::npos, line != "  key ") << text;
    }
}

// Defender's attack surface reduction rule for Office communication programs, set to block or warn by Group Policy or
// MDM, is a FIX unless Ostrilo.exe is among its exclusions.
TEST(AdminStatus, WarnsWhenDefendersRuleKeepsOutlookFromStartingOstriloUnlessItIsExcluded)
{
    sandbox box;
    const std::wstring admin = set_up(box);
    clean_registry registry(L"win7");
    const std::wstring defender = L"SOFTWARE\\Policies\\Microsoft\\Windows Defender", dir = box.program_dir;
    const std::wstring gp = defender + L"\\Windows Defender Exploit Guard\\ASR", mdm = defender + L"\\Policy Manager";
    const std::wstring rule = L"26190899-1602-49e8-8b27-eb1d0a1ce869";
    const std::string topic =
                          "Defender ASR: the rule \"Block Office communication application from creating child "
                          "processes\" (26190899-1602-49e8-8b27-eb1d0a1ce869) is ",
                      exe = narrow(box.exe());
    // Values as (key, name, data), and the line status prints.
    const std::pair<std::vector<std::array<std::wstring, 3>>, std::string> cases[] = {
        {{}, "ok    " + topic + "not set to block or warn: Outlook can start Ostrilo"},
        {{{gp + L"\\Rules", rule, L"1"}},
         "FIX   " + topic + "set to block by Group Policy and " + exe +
             " is not excluded: Outlook cannot start Ostrilo, links in mail do nothing -- add " + exe},
        {{{gp + L"\\Rules", rule, L"6"}, {gp + L"\\ASROnlyExclusions", dir, L"0"}},
         "ok    " + topic + "set to warn by Group Policy, and " + exe + " is excluded from it"},
        {{{mdm, L"ASRRules", L"d4f940ab-401b-4efc-aadc-ad5f3c50688a=2|26190899-1602-49E8-8B27-EB1D0A1CE869=1"},
          {mdm, L"ASROnlyExclusions", L"C:\\Other|" + dir + L"\\ostri*.EXE"}},
         "ok    " + topic + "set to block by MDM (Intune), and " + exe + " is excluded from it"},
        {{{mdm, L"ASRRules", rule + L"=2"}}, "ok    " + topic + "not set to block or warn"},
    };
    for (const auto& [values, line] : cases) {
        const scoped_key clean(HKEY_LOCAL_MACHINE, defender);
        for (const auto& [key, name, data] : values)
            write_string(HKEY_LOCAL_MACHINE, key, name, data);
        EXPECT_PRED_FORMAT2(testing::IsSubstring, line, box.run_command_line(admin + L"status").out);
    }
}

TEST(AdminDefaultAssociations, NameTheProgIdsAndTheApplicationThatSetregistryRegistered)
{
    sandbox box;
    const std::wstring admin = set_up(box);
    clean_registry registry(L"win7");
    box.put(L"ostrilo.cfg", "product_name=Acme & Co\r\n");
    ASSERT_EQ(box.run(L"-setregistry").exit_code, 0u);
    // Each "...Associations [type]=ProgId" row of the registration, with the name it is registered under.
    std::set<std::string> rows;
    registry_dump(HKEY_CURRENT_USER, L"Software\\RegisteredApplications", rows);
    const std::string client = "Software\\Clients\\StartMenuInternet\\OSTRILO.EXE\\Capabilities";
    ASSERT_EQ(rows.count("Software\\RegisteredApplications [Feldrun Acme & Co Browserweiche]=" + client), 1u);
    registry_dump(HKEY_CURRENT_USER, widen(client), rows);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DefaultAssociations>\n";
    for (const std::string& row : rows) {
        const std::size_t type = row.find("Associations [") + 14, end = row.find("]=");
        if (row.find("Associations [") != std::string::npos)
            xml += "  <Association Identifier=\"" + row.substr(type, end - type) + "\" ProgId=\"" +
                   row.substr(end + 2) + "\" ApplicationName=\"Feldrun Acme &amp; Co Browserweiche\" />\n";
    }
    xml += "</DefaultAssociations>\n";
    EXPECT_EQ(box.run_command_line(admin + L"default-associations").out, xml);
    // --base64 into a file: the same bytes, as Intune takes them.
    const std::wstring file = box.root + L"\\associations.b64";
    EXPECT_EQ(box.run_command_line(admin + L"default-associations --out \"" + file + L"\" --base64").exit_code, 0u);
    const std::string base64 = read_file(file).value_or("");
    std::string decoded(base64.size(), '\0');
    DWORD size = static_cast<DWORD>(decoded.size());
    EXPECT_TRUE(CryptStringToBinaryA(base64.c_str(), 0, CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(decoded.data()),
                                     &size, nullptr, nullptr));
    EXPECT_EQ(decoded.substr(0, size), xml);
}

// whitelist_copy=1: status names the copy Ostrilo.exe made and whether the file still holds the same; once the
// file is gone, explain says that the copy answers, and Ostrilo.exe then goes where it said.
TEST(AdminStatus, NamesTheCopyOfTheCentralFileAndExplainSaysWhenItAnswers)
{
    sandbox box;
    const std::wstring admin = set_up(box), central = box.root + L"\\central.txt", url = L"https://c.a.example/";
    write_file(central, "c.a.example/*|x\r\n");
    box.put(L"ostrilo.cfg", "whitelist_copy=1\r\nwhitelist_path=" + narrow(central) + "\r\n");
    EXPECT_EQ(box.run(L"-url \"" + url + L"\"").exit_code, 1u);
    const std::string copy = narrow(box.localappdata) + "\\Ostrilo\\whitelist copy.txt";
    const std::string line = "ok    whitelist_copy: on: " + copy + ", the copy of " + narrow(central) + " read ";
    for (const char* state :
         {"matches the file now", "the file cannot be read now (system error 2: File not found.)"}) {
        const std::string status = box.run_command_line(admin + L"status").out;
        EXPECT_PRED_FORMAT2(testing::IsSubstring, line, status);
        EXPECT_PRED_FORMAT2(testing::IsSubstring, state, status);
        DeleteFileW(central.c_str());
    }
    const nlohmann::json said = nlohmann::json::parse(box.run_command_line(admin + L"explain --json " + url).out)[0];
    EXPECT_EQ(said["whitelist_copy"]["path"], copy);
    EXPECT_EQ(said["match"]["file"], copy);
    EXPECT_EQ(box.run(L"-url \"" + url + L"\"").exit_code, said["exit_status"].get<unsigned>());
    // whitelist_timeout_ms=300 and, as whitelist_path, a pipe whose server never writes: status names the key, and
    // explain says that the copy answered because the pipe did not in time.
    const std::string pipe = "\\\\.\\pipe\\ostrilo-admin-silent", source = "source: " + narrow(central);
    std::string text = read_file(widen(copy)).value_or("");
    write_file(widen(copy), text.replace(text.find(source), source.size(), "source: " + pipe));
    box.put(L"ostrilo.cfg", "whitelist_copy=1\r\nwhitelist_timeout_ms=300\r\nwhitelist_path=" + pipe + "\r\n");
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "ok    whitelist_timeout_ms: on: a whitelist_path file not opened and "
                        "read within 300 ms is answered for",
                        box.run_command_line(admin + L"status").out);
    const HANDLE server = CreateNamedPipeW(widen(pipe).c_str(), PIPE_ACCESS_DUPLEX, 0, 1, 0, 0, 0, nullptr);
    const nlohmann::json timed = nlohmann::json::parse(box.run_command_line(admin + L"explain --json " + url).out)[0];
    CloseHandle(server);
    EXPECT_EQ(timed["whitelist_copy"]["error"], "did not answer within 300 ms");
    EXPECT_EQ(timed["whitelist_copy"]["timeout_ms"], 300);
}

}  // namespace
