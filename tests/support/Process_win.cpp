#include "support/Process.h"

#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdint>
#include <vector>

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    const auto seconds = [](const FILETIME& t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

namespace {

// The system's handle table, for where GetProcessHandleCount counts nothing (Wine 8).
long HandlesInSystemTable()
{
    struct Entry {
        USHORT process;
        USHORT creatorBackTraceIndex;
        UCHAR objectType;
        UCHAR flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    using Query = NTSTATUS(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    constexpr ULONG SystemHandleInformation = 16;
    constexpr NTSTATUS InfoLengthMismatch = NTSTATUS(0xC0000004L);
    std::vector<char> buffer(1 << 20);
    NTSTATUS status;
    ULONG length = 0;
    while ((status = query(SystemHandleInformation, buffer.data(), ULONG(buffer.size()), &length)) == InfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return -1;
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(void*));
    const auto self = USHORT(GetCurrentProcessId());
    long mine = 0;
    for (ULONG i = 0; i < count; ++i)
        mine += entries[i].process == self;
    return mine;
}

} // namespace

ProcessResources CurrentProcessResources()
{
    ProcessResources r;
    DWORD handles = 0;
    r.handles = GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0 ? long(handles)
                                                                                     : HandlesInSystemTable();
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 t{};
        t.dwSize = sizeof t;
        for (BOOL more = Thread32First(snapshot, &t); more; more = Thread32Next(snapshot, &t))
            r.threads += t.th32OwnerProcessID == GetCurrentProcessId();
        CloseHandle(snapshot);
    }
    return r;
}

bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
