#pragma once
// Ownership of a kernel handle: closed once, when the owner goes out of scope. Both of
// Windows' "no handle" values (nullptr from OpenProcess, INVALID_HANDLE_VALUE from CreateFileW
// and CreateToolhelp32Snapshot) count as none.

#include "backends/win32/WinPrelude.h"

namespace px::win32 {

class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle = nullptr)
        : m_handle(handle)
    {
    }
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : m_handle(other.m_handle)
    {
        other.m_handle = nullptr;
    }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_handle = other.m_handle;
            other.m_handle = nullptr;
        }
        return *this;
    }

    HANDLE Get() const { return m_handle; }
    // Gives the handle up to the caller, who closes it.
    HANDLE Take()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    bool Valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    // Closes now; false when the close failed (for a file: data may not have been written).
    bool Reset()
    {
        const bool ok = !Valid() || ::CloseHandle(m_handle) != 0;
        m_handle = nullptr;
        return ok;
    }

private:
    HANDLE m_handle;
};

}  // namespace px::win32
