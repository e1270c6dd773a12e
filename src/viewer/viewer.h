// Handing a URL to the remote-browser viewer: pipe, clipboard, finding the
// running viewer and starting it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct run_context;

// --- Text in, text out ---
std::string url_encode(std::string_view text);
// Length of the longest start of text that has at most max_bytes bytes and
// does not end inside a UTF-8 sequence.
std::size_t utf8_cut_length(std::string_view text, std::size_t max_bytes);

// --- Pipe and clipboard ---
// True when the pipe took it, false when the clipboard did.
bool send_url_to_vncviewer(run_context& run, const std::wstring& url);
int send_url_to_vncviewer_with_pipe(run_context& run, const std::wstring& url);
std::string get_pipe_name(run_context& run);
std::optional<std::string> get_pipe_name_file_path(run_context& run);
void put_clipboard(const std::wstring& text);

// --- Viewer process and window ---
const std::string& get_os_user_name(run_context& run);
unsigned long find_process_by_name(run_context& run, const char* name, const std::optional<std::string>& user);
void bring_viewer_window_to_front_with_process_id(run_context& run, unsigned long process_id);

// --- Viewer start ---
// Gives where the text went and how, in English (for the event of a routed link).
std::string open_url_in_kvix(run_context& run, const std::wstring& text);
unsigned long start_viewer_with_url(run_context& run, const std::string& text);
int is_vncviewer_version_equal_to_or_greater_than_2_1_4(run_context& run);
// Starts a program and waits until it is idle, at most 30 seconds; fatal
// error when it cannot be started. Gives the process id. Without a working folder it runs in the
// installation folder.
unsigned long start_child_program(run_context& run, const std::string& command_line,
                                  const std::optional<std::string>& window_title, bool wait,
                                  const std::optional<std::string>& working_folder);

// Forgets the user name and the pipe-name file path (the shutdown step).
void free_viewer_state(run_context& run);
