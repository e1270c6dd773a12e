// ostrilo-admin tells the truth: what `explain --json` predicts for a link is
// what Ostrilo.exe then does with the same rule files, and `status` reads a
// registration back as Ostrilo.exe wrote it.
#include "registry_guard.h"
#include "sandbox.h"
#include "standin_calls.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

namespace {

const char* const rules =
    "# routing for the differential test\r\n"
    "*.example.com/*|local|firefox\r\n"
    "\r\n"
    "intranet.example/*|remote|chrome|work\r\n"
    "odd.example/*|elsewhere\r\n";

struct admin_sandbox : sandbox {
    admin_sandbox()
    {
        write_file(program_dir + L"\\url_whitelist.txt", rules);
        copy_standin(L"ostrilo-admin", admin());
        copy_standin(L"browser_standin", firefox());
        // No viewer runs: Ostrilo starts this one with the encoded hand-off text.
        copy_standin(L"vncviewer_2_1_4", program_dir + L"\\vncviewer.exe");
        set_env(L"STANDIN_RECORD_DIR", root);
    }
    // A started stand-in viewer runs until it is ended.
    ~admin_sandbox()
    {
        const DWORD id = std::stoul(read_file(root + L"\\vncviewer.pid").value_or("0"));
        if (HANDLE process = id ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id) : nullptr) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    std::wstring admin() const { return program_dir + L"\\ostrilo-admin.exe"; }
    std::wstring firefox() const { return program_dir + L"\\firefox.exe"; }
    run_result admin_run(const std::wstring& arguments) const
    {
        return run_command_line(L"\"" + admin() + L"\" " + arguments);
    }
};

TEST(AdminExplain, PredictsWhatOstriloThenDoesWithTheSameRules)
{
    const struct {
        std::string url;
        const char* cfg;  // ostrilo.cfg beside both programs, or nullptr
    } cases[] = {
        {"https://www.example.com/a?b=1", nullptr},        // local, Firefox by the shell
        {"https://intranet.example/x?q=\xc3\xa4", nullptr},  // remote: profile|browser|link, bytes widened
        {"http://elsewhere.test/p q", nullptr},            // no rule: the link itself
        {"https://odd.example/", nullptr},                 // neither local nor remote: status 1
        {"kvxps://www.example.com/k", nullptr},            // looked up as https://
        // The opt-in keys: a path posing as the host goes on to no rule, and
        // a smuggled switch reaches the browser inside the one argument.
        {"https://evil.test/x.example.com/", "strict_host_match=1\r\n"},
        {"https://www.example.com/?q=1 --flag=c", "safe_browser_arguments=1\r\n"},
    };
    for (const auto& [url, cfg] : cases) {
        admin_sandbox box;
        if (cfg)
            write_file(box.program_dir + L"\\ostrilo.cfg", cfg);
        const run_result explained = box.admin_run(L"explain --json \"" + widen(url) + L"\"");
        ASSERT_EQ(explained.exit_code, 0u) << url << explained.err;
        const nlohmann::json prediction = nlohmann::json::parse(explained.out).at(0);
        EXPECT_EQ(prediction["match"].is_null(), url.starts_with("http://elsewhere") || url.starts_with("https://evil"))
            << url;
        EXPECT_EQ(prediction.contains("without_strict_host"), url.starts_with("https://evil")) << url;
        // Ostrilo.exe creates %APPDATA%\vnc when it looks there; explain only looks.
        EXPECT_FALSE(path_exists(box.appdata + L"\\vnc")) << url;

        const run_result run = box.run(L"-url \"" + widen(url) + L"\"");
        EXPECT_EQ(run.exit_code, prediction["exit_status"].get<unsigned>()) << url << "\n" << run.err;
        const std::string action = prediction["action"];
        if (action == "local") {
            const std::vector<standin_call> calls = wait_for_calls(box.firefox());
            ASSERT_EQ(calls.size(), 1u) << url;
            EXPECT_EQ(prediction["shell_file"], "firefox") << url;
            EXPECT_EQ(parameters_of(calls[0].command_line), prediction["shell_parameters"]) << url;
        } else if (action == "remote" || action == "viewer") {
            // The -initialURL value is the pipe message without its NUL byte.
            std::string pipe = prediction["pipe_bytes"];
            ASSERT_TRUE(pipe.ends_with('\0')) << url;
            pipe.pop_back();
            const std::optional<std::string> started = wait_for_file(box.root + L"\\vncviewer.cmdline");
            EXPECT_NE(started.value_or("").find("-initialURL \"" + pipe + "\""), std::string::npos)
                << url << "\n" << started.value_or("(not started)");
        } else {
            EXPECT_EQ(action, "bad_destination") << url;
            EXPECT_TRUE(recorded_calls(box.firefox()).empty()) << url;
            EXPECT_FALSE(path_exists(box.root + L"\\vncviewer.cmdline")) << url;
        }
    }
}

TEST(AdminStatus, ReadsTheRegistrationAndTheChoicesThatSetregistryWrote)
{
    registration_keys_guard registry;
    scoped_windows_version version(L"win7");
    admin_sandbox box;
    const std::string exe = narrow(box.exe());
    const struct {
        bool registered;
        std::string line;
        const wchar_t* switches = L"";  // of -setregistry
        const char* cfg = nullptr;      // ostrilo.cfg written after the registration
    } cases[] = {
        {false, "FIX   registration http: HKCU\\Software\\Classes\\NB.HTTP\\shell\\open\\command is missing"},
        {true, "ok    registration http: opens " + exe + " without -configdir"},
        {true, "ok    default https (UserChoice): Ostrilo (NB.HTTPS)"},
        {true, "ok    rule file: " + narrow(box.program_dir) + "\\\\url_whitelist.txt"},
        {true, "ok    safe_browser_arguments: off: a link reaches the local browser as it is"},
        {true, "ok    strict_command_line: on: no text inside a link", L"", "strict_command_line=1\r\n"},
        // Registered before the key was set: the folder stands behind the link.
        {true, "FIX   strict_command_line: on, but the open command of http, https, .html does not end in -url",
         L" -configdir C:\\cfg", "strict_command_line=1\r\n"},
    };
    for (const auto& c : cases) {
        SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes\\NB.HTTP");
        DeleteFileW((box.program_dir + L"\\ostrilo.cfg").c_str());
        if (c.registered) {
            ASSERT_EQ(box.run(std::wstring(L"-setregistry") + c.switches).exit_code, 0u);
        }
        if (c.cfg)
            write_file(box.program_dir + L"\\ostrilo.cfg", c.cfg);
        const run_result status = box.admin_run(L"status");
        EXPECT_NE(status.out.find(c.line), std::string::npos) << c.line << "\n" << status.out;
    }
}

}  // namespace
