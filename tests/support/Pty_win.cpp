#include "support/Pty.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <vector>

namespace {

struct Cable {
    int nearEnd;
    int farEnd;
};

// "100:101,102:103": the COM numbers of each cable's near and far end.
std::vector<Cable> CablesFromEnvironment()
{
    std::vector<Cable> cables;
    const char* text = std::getenv("KESTRIN_COM_CABLES");
    for (const char* p = text ? text : ""; *p;) {
        char* end = nullptr;
        const long nearEnd = std::strtol(p, &end, 10);
        if (*end != ':')
            break;
        const long farEnd = std::strtol(end + 1, &end, 10);
        cables.push_back({int(nearEnd), int(farEnd)});
        p = *end == ',' ? end + 1 : end;
    }
    return cables;
}

std::string ComPath(int number) { return "\\\\.\\COM" + std::to_string(number); }

} // namespace

struct Pty::Impl {
    HANDLE port = INVALID_HANDLE_VALUE;

    // One overlapped transfer, waited for up to timeoutMs (then cancelled, keeping what it
    // moved); false when the port failed.
    bool Transfer(bool write, void* data, DWORD size, DWORD& done, DWORD timeoutMs = INFINITE)
    {
        OVERLAPPED io{};
        io.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        done = 0;
        bool ok = write ? WriteFile(port, data, size, &done, &io) : ReadFile(port, data, size, &done, &io);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(io.hEvent, timeoutMs) != WAIT_OBJECT_0)
                CancelIoEx(port, &io);
            ok = GetOverlappedResult(port, &io, &done, TRUE) || GetLastError() == ERROR_OPERATION_ABORTED;
        }
        CloseHandle(io.hEvent);
        return ok;
    }
};

Pty::Pty() : impl_(std::make_unique<Impl>())
{
    static const std::vector<Cable> cables = CablesFromEnvironment();
    static std::atomic<size_t> next{0};
    const size_t i = next++;
    if (i >= cables.size()) {
        ADD_FAILURE() << "no null-modem cable left for the other end: KESTRIN_COM_CABLES names "
                      << cables.size() << " (scripts/test-windows.sh lays them)";
        return;
    }
    impl_->port = CreateFileA(ComPath(cables[i].farEnd).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (impl_->port == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot open the far end " << ComPath(cables[i].farEnd) << ": error " << GetLastError();
        return;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(impl_->port, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    SetCommState(impl_->port, &dcb);
    slavePath = ComPath(cables[i].nearEnd);
}

Pty::Pty(const std::string&) : impl_(std::make_unique<Impl>())
{
    ADD_FAILURE() << "opening a terminal by path is for Linux";
}

Pty::~Pty() { Close(); }

void Pty::Close()
{
    if (impl_->port != INVALID_HANDLE_VALUE)
        CloseHandle(impl_->port);
    impl_->port = INVALID_HANDLE_VALUE;
}

bool Pty::Send(const std::string& bytes)
{
    std::string copy = bytes;
    for (size_t sent = 0; sent < copy.size();) {
        DWORD done = 0;
        const DWORD chunk = DWORD(std::min<size_t>(copy.size() - sent, 4096));
        if (impl_->port == INVALID_HANDLE_VALUE || !impl_->Transfer(true, copy.data() + sent, chunk, done))
            return false;
        sent += done;
    }
    return true;
}

std::string Pty::Receive(int firstMs, int quietMs)
{
    std::string got;
    hungUp = false;
    if (impl_->port == INVALID_HANDLE_VALUE)
        return got;
    // Reads take what the driver holds and return at once; the wait for more is a look
    // every few milliseconds (Wine does not end a read at the first bytes).
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    SetCommTimeouts(impl_->port, &t);
    auto deadline = GetTickCount64() + ULONGLONG(firstMs);
    for (char buf[4096]; GetTickCount64() < deadline;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(impl_->port, &errors, &status)) {
            hungUp = true;
            break;
        }
        DWORD n = 0;
        if (status.cbInQue == 0) {
            Sleep(5);
            continue;
        }
        if (!impl_->Transfer(false, buf, std::min<DWORD>(status.cbInQue, sizeof buf), n)) {
            hungUp = true;
            break;
        }
        got.append(buf, n);
        deadline = GetTickCount64() + ULONGLONG(quietMs);
    }
    return got;
}
