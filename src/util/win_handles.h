// Small owners of Win32 resources, shared by the units that hold them.
#pragma once

#include <windows.h>

// A kernel handle, closed when the owner goes; both "no handle" values of
// Win32 (nullptr and INVALID_HANDLE_VALUE) count as empty.
class unique_handle {
public:
    explicit unique_handle(HANDLE handle = nullptr) : handle_(handle) {}
    ~unique_handle() { reset(); }
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (*this) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

// A movable global memory block, freed unless it was handed on (release).
class unique_global {
public:
    explicit unique_global(HGLOBAL block) : block_(block) {}
    ~unique_global() {
        if (block_ != nullptr) GlobalFree(block_);
    }
    unique_global(const unique_global&) = delete;
    unique_global& operator=(const unique_global&) = delete;
    HGLOBAL get() const { return block_; }
    HGLOBAL release() {
        HGLOBAL block = block_;
        block_ = nullptr;
        return block;
    }

private:
    HGLOBAL block_;
};
