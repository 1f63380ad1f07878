#pragma once
// The Win32 calls a COM port device makes, in one table that the device takes when it is
// opened: the system's own by default, a scripted driver in tests that play how real
// drivers behave (waits that stay pending, a refused DCB, errors after an unplug, a cancel
// that is ignored). Events and waits for them stay the system's own.
#include <windows.h>

#include <functional>
#include <memory>

namespace kestrin {

struct SerialDriver {
    std::function<HANDLE(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)> CreateFileA;
    std::function<BOOL(HANDLE)> CloseHandle;
    std::function<BOOL(HANDLE, LPDCB)> GetCommState;
    std::function<BOOL(HANDLE, LPDCB)> SetCommState;
    std::function<BOOL(HANDLE, LPCOMMPROP)> GetCommProperties;
    std::function<BOOL(HANDLE, DWORD, DWORD)> SetupComm;
    std::function<BOOL(HANDLE, LPCOMMTIMEOUTS)> SetCommTimeouts;
    std::function<BOOL(HANDLE, DWORD)> SetCommMask;
    std::function<BOOL(HANDLE, LPDWORD, LPOVERLAPPED)> WaitCommEvent;
    std::function<BOOL(HANDLE, LPDWORD, LPCOMSTAT)> ClearCommError;
    std::function<BOOL(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)> ReadFile;
    std::function<BOOL(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)> WriteFile;
    std::function<BOOL(HANDLE, LPOVERLAPPED, LPDWORD, BOOL)> GetOverlappedResult;
    std::function<BOOL(HANDLE, LPOVERLAPPED)> CancelIoEx;
    std::function<BOOL(HANDLE, DWORD)> PurgeComm;
    std::function<BOOL(HANDLE, DWORD)> EscapeCommFunction;

    // The system's own calls.
    static std::shared_ptr<const SerialDriver> System();
};

} // namespace kestrin
