// The floor a routed link is measured against: a GUI program that asks the
// shell once to open a program by its bare name, with the URL as parameters,
// as the local browser start does. Usage: bench_floor_shell.exe PROGRAM URL
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>

namespace {

struct argv_free {
    void operator()(wchar_t** argv) const { LocalFree(argv); }
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int count = 0;
    std::unique_ptr<wchar_t*, argv_free> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!arguments || count < 3)
        return 2;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.lpVerb = L"open";
    info.lpFile = arguments.get()[1];
    info.lpParameters = arguments.get()[2];
    return ShellExecuteExW(&info) ? 0 : 1;
}
