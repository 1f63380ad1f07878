#include "platform/AtomicFile.h"

#include <algorithm>
#include <random>
#include <string>
#include <windows.h>

namespace kestrin {

namespace {

std::wstring Wide(const std::string& utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8(const std::wstring& wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// The path as the person would look for it: relative to the working folder made absolute.
std::string AbsolutePath(const std::string& path)
{
    const std::wstring wide = Wide(path);
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return path;
    std::wstring full(n, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (length == 0 || length >= n)
        return path;
    full.resize(length);
    return Utf8(full);
}

// The system's text for an error code, without its line end.
std::string Reason(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring reason = n != 0 && text != nullptr ? std::wstring(text, n) : L"error " + std::to_wstring(code);
    LocalFree(text);
    while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' || reason.back() == L'.'))
        reason.pop_back();
    return Utf8(reason);
}

} // namespace

bool SaveFileAtomically(const std::string& path, std::string_view bytes, std::string& error)
{
    const std::wstring target = Wide(path);
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::random_device entropy;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = target + L".save-" + std::to_wstring(entropy() % 1000000000u);
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    DWORD reason = GetLastError();
    bool saved = file != INVALID_HANDLE_VALUE;
    while (saved && !bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = DWORD(std::min<size_t>(bytes.size(), 1u << 30));
        saved = WriteFile(file, bytes.data(), chunk, &written, nullptr) != 0 && written > 0;
        bytes.remove_prefix(written);
    }
    if (saved)
        saved = FlushFileBuffers(file) != 0;
    if (!saved)
        reason = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (saved) {
        // An existing file is replaced with its attributes and access rights kept.
        const bool exists = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
        saved = exists ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                      nullptr, nullptr) != 0
                       : MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
        if (!saved)
            reason = GetLastError();
    }
    if (saved)
        return true;
    if (file != INVALID_HANDLE_VALUE)
        DeleteFileW(temporary.c_str());
    error = "Cannot save " + AbsolutePath(path) + ": " + Reason(reason);
    return false;
}

} // namespace kestrin
