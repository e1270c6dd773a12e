// ostrilo-admin tells the truth: what `explain --json` predicts for a link is
// what Ostrilo.exe then does with the same rule files, and `status` reads a
// registration back as Ostrilo.exe wrote it.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using namespace std::string_literals;

namespace {

struct admin_sandbox : sandbox {
    admin_sandbox()
    {
        put(L"url_whitelist.txt", "# routing\r\n*.example.com/*|local|firefox\r\n\r\n"
                                  "intranet.example/*|remote|chrome|work\r\nodd.example/*|elsewhere\r\n");
        standin(admin(), L"ostrilo-admin");
        standin(program_dir + L"\\firefox.exe");
        // No viewer runs: Ostrilo starts this one with the encoded hand-off text.
        standin(program_dir + L"\\vncviewer.exe", L"vncviewer_2_1_4");
    }
    std::wstring admin() const { return program_dir + L"\\ostrilo-admin.exe"; }
    run_result admin_run(const std::wstring& arguments) const { return run_command_line(L"\"" + admin() + L"\" " + arguments); }
};

TEST(AdminExplain, PredictsWhatOstriloThenDoesWithTheSameRules)
{
    // Local (Firefox by the shell), remote, no rule, neither local nor remote, kvxps as https.
    for (const std::string url : {"https://www.example.com/a?b=1", "https://intranet.example/x?q=\xc3\xa4",
                                  "http://elsewhere.test/p q", "https://odd.example/", "kvxps://www.example.com/k"}) {
        SCOPED_TRACE(url);
        admin_sandbox box;
        const run_result explained = box.admin_run(L"explain --json \"" + widen(url) + L"\"");
        ASSERT_EQ(explained.exit_code, 0u) << explained.err;
        EXPECT_EQ(explained.err, "");  // the product's log records are not the tool's output
        const nlohmann::json prediction = nlohmann::json::parse(explained.out).at(0);
        EXPECT_EQ(prediction["match"].is_null(), url.starts_with("http://elsewhere"));
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
        EXPECT_EQ(started.find("-initialURL \"" + pipe.substr(0, pipe.size() - 1) + "\"\n") != std::string::npos, viewer)
            << started;
    }
}

TEST(AdminStatus, ReadsTheRegistrationAndTheChoicesThatSetregistryWrote)
{
    clean_registry registry(L"win7");
    admin_sandbox box;
    EXPECT_NE(box.admin_run(L"status").out.find(
                  "FIX   registration http: HKCU\\Software\\Classes\\NB.HTTP\\shell\\open\\command is missing"),
              std::string::npos);
    ASSERT_EQ(box.run(L"-setregistry").exit_code, 0u);
    const std::string status = box.admin_run(L"status").out;
    for (const std::string line : {"ok    registration http: opens " + narrow(box.exe()) + " without -configdir",
                                   "ok    default https (UserChoice): Ostrilo (NB.HTTPS)"s,
                                   "ok    rule file: " + narrow(box.program_dir) + "\\\\url_whitelist.txt"})
        EXPECT_NE(status.find(line), std::string::npos) << line << "\n" << status;
}

}  // namespace
