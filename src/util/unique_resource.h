// One owner for every resource the programs hold: the value that names the
// resource (a handle, a key, a pointer) and the function that gives it back,
// called when the owner goes, is reset or is overwritten. Every kind of
// resource is an alias of unique_any below; the few resources that come in
// pairs or need an answer from their closing call have a small struct of
// owners and a function beside them. On Windows this header brings
// <windows.h> with it, so the text decisions do not include it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#else
#include <locale.h>
#endif

template <class T>
constexpr T zero_value()
{
    return T{};
}

// Holds one T; empty() is the value that means "nothing held" (zero unless
// named). Move-only: a move hands the resource on and leaves the source empty.
template <class T, auto close, T (*empty)() = &zero_value<T>>
class unique_any {
public:
    unique_any() noexcept : value_(empty()) {}
    explicit unique_any(T value) noexcept : value_(value) {}
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    ~unique_any() { reset(); }

    T get() const noexcept { return value_; }
    // The address a function fills as its out-parameter; what was held is
    // given back first.
    T* put() noexcept
    {
        reset();
        return &value_;
    }
    // Hands the value on; the owner holds nothing afterwards.
    T release() noexcept { return std::exchange(value_, empty()); }
    void reset(T value = empty()) noexcept
    {
        const T old = std::exchange(value_, value);
        if (old != empty())
            close(old);
    }
    explicit operator bool() const noexcept { return value_ != empty(); }

private:
    T value_;
};

// --- C runtime ---
inline void close_c_file(std::FILE* file)
{
    std::fclose(file);
}
template <class P>
void c_free(P block)
{
    std::free(block);
}
using unique_file = unique_any<std::FILE*, &close_c_file>;
// A block the C runtime allocated (malloc, _wgetcwd without a buffer).
template <class P>
using unique_malloc = unique_any<P, &c_free<P>>;

#ifdef _WIN32
// --- Kernel objects ---
inline HANDLE invalid_handle_value()
{
    return INVALID_HANDLE_VALUE;
}
// Handles that Win32 gives as nullptr on failure (processes, threads, tokens).
using unique_handle = unique_any<HANDLE, &CloseHandle>;
// Handles that Win32 gives as INVALID_HANDLE_VALUE on failure (files, pipes,
// tool-help snapshots).
using unique_file_handle = unique_any<HANDLE, &CloseHandle, &invalid_handle_value>;

// A started process: both of its handles, closed together, and its id.
struct unique_process_information {
    unique_handle process;
    unique_handle thread;
    DWORD process_id = 0;
};
inline unique_process_information own_process(const PROCESS_INFORMATION& started)
{
    unique_process_information owned;
    owned.process.reset(started.hProcess);
    owned.thread.reset(started.hThread);
    owned.process_id = started.dwProcessId;
    return owned;
}

// A file search of FindFirstFileW (INVALID_HANDLE_VALUE on failure).
using unique_find_handle = unique_any<HANDLE, &FindClose, &invalid_handle_value>;

// --- Libraries loaded on demand ---
using unique_module = unique_any<HMODULE, &FreeLibrary>;

// --- Registry ---
using unique_hkey = unique_any<HKEY, &RegCloseKey>;

// --- Event log ---
using unique_event_source = unique_any<HANDLE, &DeregisterEventSource>;

// --- Memory ---
template <class P>
void local_free(P block)
{
    LocalFree(block);
}
// Blocks that the system allocated with LocalAlloc for the caller
// (FormatMessage's text, CommandLineToArgvW's vector).
template <class P>
using unique_local = unique_any<P, &local_free<P>>;
inline void process_heap_free(void* block)
{
    HeapFree(GetProcessHeap(), 0, block);
}
using unique_process_heap_block = unique_any<void*, &process_heap_free>;
using unique_hglobal = unique_any<HGLOBAL, &GlobalFree>;

// A global block locked for its owner: memory is where the block lies, or
// none when it could not be locked (then nothing is held).
inline void global_unlock(HGLOBAL block)
{
    GlobalUnlock(block);
}
struct locked_global {
    unique_any<HGLOBAL, &global_unlock> lock;
    void* memory = nullptr;
};
inline locked_global lock_global(HGLOBAL block)
{
    locked_global locked;
    locked.memory = GlobalLock(block);
    if (locked.memory != nullptr)
        locked.lock.reset(block);
    return locked;
}
// Unlocks now; gives true when a lock remains on the block (GlobalUnlock's
// nonzero answer), which the caller may treat as an error.
inline bool unlock_global(locked_global& locked)
{
    locked.memory = nullptr;
    return GlobalUnlock(locked.lock.release()) != 0;
}

// --- The clipboard, open for this process ---
inline void close_open_clipboard(bool)
{
    CloseClipboard();
}
using unique_clipboard = unique_any<bool, &close_open_clipboard>;
inline unique_clipboard open_clipboard()
{
    return unique_clipboard(OpenClipboard(nullptr) != 0);
}
// Closes it now; gives CloseClipboard's answer.
inline bool close_clipboard(unique_clipboard& clipboard)
{
    clipboard.release();
    return CloseClipboard() != 0;
}

// --- COM on this thread: undone only when this call set it up (S_OK or
// S_FALSE), not when the thread already had another model. ---
inline void co_uninitialize(bool)
{
    CoUninitialize();
}
using unique_com_init = unique_any<bool, &co_uninitialize>;
inline unique_com_init initialize_com(DWORD model)
{
    return unique_com_init(SUCCEEDED(CoInitializeEx(nullptr, model)));
}
#endif

#ifndef _WIN32
// --- POSIX locales (the native build of ostrilo-admin) ---
using unique_locale = unique_any<locale_t, &freelocale>;
inline void use_thread_locale(locale_t locale)
{
    uselocale(locale);
}
// The calling thread's locale from before a uselocale, put back when the
// owner goes; declare it after the owner of the locale it switched to.
using thread_locale_restorer = unique_any<locale_t, &use_thread_locale>;
#endif
