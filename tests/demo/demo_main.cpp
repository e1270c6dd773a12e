// The main job, as a user would see it: opens an example link through
// Ostrilo.exe in a sandbox with a small demo setup and shows what happened.
#include "sandbox.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    std::wstring url = argc > 1 ? widen(argv[1]) : L"https://www.example.com/";
    sandbox demo;
    std::printf("Demo folder: %s\n", narrow(demo.root).c_str());
    std::printf("Running: \"%s\" -url \"%s\" -log\n\n", narrow(demo.exe()).c_str(), narrow(url).c_str());
    run_result run = demo.run(L"-url \"" + url + L"\" -log");

    std::printf("Exit status: %ld\n", static_cast<long>(run.exit_code));
    for (const message_box& box : run.boxes)
        std::printf("Message box \"%s\":\n%s\n", narrow(box.title).c_str(), narrow(box.text).c_str());
    std::printf("\nLog records (standard error):\n%s", run.err.c_str());
    if (!run.out.empty())
        std::printf("\nStandard output:\n%s", run.out.c_str());
    return run.timed_out ? 1 : 0;
}
