// ostrilo-admin tells the truth: what `explain --json` predicts for a link is
// what Ostrilo.exe then does with the same rule files, and `status` reads a
// registration back as Ostrilo.exe wrote it.
#include "sandbox.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <nlohmann/json.hpp>

using namespace std::string_literals;

namespace {

struct admin_sandbox : sandbox {
    admin_sandbox()
    {
        put(L"url_whitelist.txt",
            "# routing\r\n*.example.com/*|local|firefox\r\n\r\n"
            "intranet.example/*|remote|chrome|work\r\nodd.example/*|elsewhere\r\n");
        standin(admin(), L"ostrilo-admin");
        standin(program_dir + L"\\firefox.exe");
        // No viewer runs: Ostrilo starts this one with the encoded hand-off text.
        standin(program_dir + L"\\vncviewer.exe", L"vncviewer_2_1_4");
    }
    std::wstring admin() const { return program_dir + L"\\ostrilo-admin.exe"; }
    run_result admin_run(const std::wstring& arguments) const
    {
        return run_command_line(L"\"" + admin() + L"\" " + arguments);
    }
};

TEST(AdminExplain, PredictsWhatOstriloThenDoesWithTheSameRules)
{
    // Local (Firefox by the shell), remote, no rule, neither local nor remote, kvxps as https; with the
    // opt-in keys, a path posing as the host goes on to no rule, and a smuggled switch stays in the one argument.
    const std::pair<std::string, const char*> cases[] = {
        {"https://www.example.com/a?b=1", ""},
        {"https://intranet.example/x?q=\xc3\xa4", ""},
        {"http://elsewhere.test/p q", ""},
        {"https://odd.example/", ""},
        {"kvxps://www.example.com/k", ""},
        {"https://evil.test/x.example.com/", "strict_host_match=1\r\n"},
        {"https://www.example.com/?q=1 --flag=c", "safe_browser_arguments=1\r\n"},
    };
    for (const auto& [url, cfg] : cases) {
        SCOPED_TRACE(url);
        admin_sandbox box;
        box.put(L"ostrilo.cfg", cfg);
        const run_result explained = box.admin_run(L"explain --json \"" + widen(url) + L"\"");
        ASSERT_EQ(explained.exit_code, 0u) << explained.err;
        EXPECT_EQ(explained.err, "");  // the product's log records are not the tool's output
        const nlohmann::json prediction = nlohmann::json::parse(explained.out).at(0);
        EXPECT_EQ(prediction["match"].is_null(),
                  url.starts_with("http://elsewhere") || url.starts_with("https://evil"));
        EXPECT_EQ(prediction.contains("without_strict_host"), url.starts_with("https://evil"));
        // Ostrilo.exe creates %APPDATA%\vnc when it looks there; explain only looks.
        EXPECT_FALSE(path_exists(box.appdata + L"\\vnc"));

        const run_result run = box.run(L"-url \"" + widen(url) + L"\"");
        EXPECT_EQ(run.exit_code, prediction["exit_status"].get<unsigned>()) << run.err;
        const std::string action = prediction["action"];
        const bool local = action == "local", viewer = action == "remote" || action == "viewer";
        EXPECT_TRUE(local || viewer || action == "bad_destination") << action;
        const std::string browser = calls_of(box.program_dir + L"\\firefox.exe", local);
        EXPECT_EQ(browser.empty(), !local);
        if (local) {
            EXPECT_EQ(prediction["shell_file"], "firefox");
            EXPECT_EQ(parameters_of(browser), prediction["shell_parameters"]);
        }
        // The -initialURL value is the pipe message without its NUL byte.
        const std::string started = calls_of(box.program_dir + L"\\vncviewer.exe", viewer);
        const std::string pipe = viewer ? prediction["pipe_bytes"] : "";
        EXPECT_EQ(pipe.ends_with('\0'), viewer);
        EXPECT_EQ(started.find("-initialURL \"" + pipe.substr(0, pipe.size() - 1) + "\"\n") != std::string::npos,
                  viewer)
            << started;
    }
}

TEST(AdminStatus, ReadsTheRegistrationAndTheChoicesThatSetregistryWrote)
{
    clean_registry registry(L"win7");
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
