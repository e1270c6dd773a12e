// Registration as a browser for the current user, and its removal.
#pragma once

#include <optional>
#include <string>

struct run_context;

// --- Registry primitives (HKEY_CURRENT_USER unless named otherwise) ---
void create_reg_key(const wchar_t* path, const wchar_t* name, const wchar_t* data);
void delete_key_and_subkeys_from_hkey_current_user(const wchar_t* path);
void delete_key_and_subkeys_from_hkey_local_machine(const wchar_t* path);
void delete_key_from_hkey_current_user(const wchar_t* path);
std::wstring get_open_command(run_context& run, const std::wstring& program_path);
std::string read_reg_string(const char* path, const char* name);

// --- Registration and removal ---
// by_hand: -setregistry, which on Windows 8 and newer opens the page where
// the user chooses the default. at_logon: -setregistry -atlogon, the command
// of Active Setup and of the installation, which shows and waits on no window
// and leaves the question, when default_browser_prompt asks for it, to
// -choosedefault once the desktop has started.
enum class registration_mode { by_hand, at_logon };
void set_ostrilo_registry(run_context& run, registration_mode mode);
// -choosedefault: opens that page, unless default_browser_prompt is 0 or
// http and https open with Ostrilo already, and notes that the user was asked.
void ask_for_default_browser(run_context& run);
void reset_ostrilo_registry(run_context& run);
// Gives the step taken to make Ostrilo the default, in English (for the event).
std::string set_default_browser(run_context& run, const std::wstring& open_command,
                                const std::wstring& application_icon);
void force_default_browser(run_context& run, const std::wstring& open_command, const std::wstring& application_icon);
unsigned long launch_control_panel_default_programs(run_context& run);
std::optional<std::string> get_control_panel_path();
std::wstring get_application_name(run_context& run);
std::wstring get_application_description(run_context& run);
std::optional<std::wstring> get_own_module_filename();
