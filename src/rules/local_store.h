// The files Ostrilo keeps for the user in %LOCALAPPDATA%\Ostrilo (the copy of
// the whitelist_path file, the cache of the whitelist_url list): the folder,
// whole reads held against the file's size and time, the checksum, and the
// write that puts a new file in place in one step. Shared by rule_copy.cpp
// and the central list; Win32.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "unique_resource.h"

constexpr std::uint64_t second_ticks = 10000000;  // a second in the 100 ns ticks of a FILETIME

// %LOCALAPPDATA%\Ostrilo, or none when there is no local folder for the user.
std::optional<std::wstring> ostrilo_local_folder();
std::uint64_t file_ticks(const FILETIME& time);
// A time as the headers write it, "YYYY-MM-DD HH:MM:SS UTC"; "" for one that is not a whole second.
std::string header_time(const FILETIME& time);
// Now, cut to the whole second: the stamp Ostrilo gives the files it writes.
FILETIME whole_second_now();

unique_file_handle open_shared(const std::string& path, DWORD share);

// One read of a file, whole, or why not.
struct whole_read {
    std::string path;
    std::string bytes = {};
    DWORD error = 0;
    // The file changed while it was read: its size or last-write time moved,
    // or the read came short of its size or went beyond it.
    bool torn = false;
    FILETIME written = {};
    // Bytes beyond this end the read with ERROR_FILE_TOO_LARGE.
    std::size_t limit = std::numeric_limits<std::size_t>::max() - 1;
    // The run has given up on the thread reading it.
    std::atomic<bool> abandoned = false;
};
// "system error N: ...", "it changed while it was read", or "" for a whole read.
std::string failure_text(const whole_read& read);
// Reads the open file to its end.
void read_whole(HANDLE file, whole_read& read);
// The file at read.path opened and read whole; a read that finds it changing
// is tried once more (a file caught while it is rewritten).
void read_source(whole_read& read);

// Writes header and bytes into a new file beside path, flushed to the disk and
// stamped, and puts it in path's place in one step, so that a run that dies
// before leaves the old file whole; a file another run holds is tried again
// for up to tries × 10 ms. Gives the system error, or 0.
DWORD put_file_in_place(const std::string& path, const std::string& header, std::string_view bytes,
                        const FILETIME& stamp, int tries = 20);

// Bytes in memory handed out in blocks, as from a file.
struct memory_blocks {
    std::string_view bytes;
    std::size_t operator()(char* buffer, std::size_t size)
    {
        const std::size_t got = std::min(size, bytes.size());
        std::memcpy(buffer, bytes.data(), got);
        bytes.remove_prefix(got);
        return got;
    }
};
