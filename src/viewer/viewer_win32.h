// The viewer hand-off's Win32 side that other units need not see: window
// handles and process owners.
#pragma once

#include <windows.h>

#include <string>

#include "unique_resource.h"

struct run_context;

// --- Viewer window and process owner ---
// The kept viewer window, searched for the process when none is kept yet or
// when force_reload is set; nullptr when there is none.
HWND get_viewer_main_window_handle(run_context& run, unsigned long process_id, bool force_reload);
// What EnumWindowsProc gets as its LPARAM: the run that keeps the window
// found, and the process whose windows count.
struct viewer_window_search {
    run_context& run;
    unsigned long process_id;
};
BOOL CALLBACK EnumWindowsProc(HWND window, LPARAM search);
void bring_window_to_front(HWND window);
// Account and domain name of a process's owner; 1 when both were found.
int get_process_user(unsigned long process_id, std::string& user, std::string& domain);
int get_user_from_token(HANDLE token, std::string& user, std::string& domain);
