#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <windows.h>

namespace kestrin {

namespace {

// The wide-character form of a UTF-8 name; false for bytes that are not UTF-8 (the name
// is refused rather than guessed at).
bool Wide(const std::string& utf8, std::wstring& wide)
{
    wide.clear();
    if (utf8.empty())
        return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0)
        return false;
    wide.resize(size_t(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), wide.data(), n) == n;
}

std::string Utf8(const std::wstring& wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(std::max(n, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
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

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A name beside target that no file has yet: target + suffix + a random number.
std::wstring FreeName(const std::wstring& target, const wchar_t* suffix)
{
    std::random_device entropy;
    std::wstring name;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + suffix + std::to_wstring(entropy() % 1000000000u);
        if (!Exists(name))
            break;
    }
    return name;
}

constexpr const char* NotUtf8 = "The name is not valid Unicode (UTF-8)";

} // namespace

std::string AbsolutePath(const std::string& path)
{
    std::wstring wide;
    if (!Wide(path, wide))
        return path;
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

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    std::wstring widePath, wideMode;
    if (!Wide(path, widePath) || !Wide(mode, wideMode)) {
        errno = EILSEQ;
        return nullptr;
    }
    return _wfopen(widePath.c_str(), wideMode.c_str());
}

bool SaveFileAtomically(const std::string& path, std::string_view bytes, std::string& error)
{
    std::wstring target;
    if (path.empty() || !Wide(path, target)) {
        error = "Cannot save " + path + ": " + (path.empty() ? Reason(ERROR_INVALID_NAME) : NotUtf8);
        return false;
    }
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
    const std::string cannot = "Cannot save " + AbsolutePath(path) + ": ";
    if (!saved) {
        if (file != INVALID_HANDLE_VALUE)
            DeleteFileW(temporary.c_str());
        error = cannot + Reason(reason);
        return false;
    }

    // A new file: moved into place whole.
    if (!Exists(target)) {
        if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
            return true;
        reason = GetLastError();
        DeleteFileW(temporary.c_str());
        error = cannot + Reason(reason);
        return false;
    }

    // An existing file is replaced with its attributes and access rights kept. The old
    // file goes to a backup name first, so that a replacement the system leaves half-done
    // (a virus scanner or the indexer holding a file) loses neither file.
    const std::wstring backup = FreeName(target, L".old-");
    if (ReplaceFileW(target.c_str(), temporary.c_str(), backup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr)) {
        DeleteFileW(backup.c_str());
        return true;
    }
    reason = GetLastError();
    if (Exists(target)) {
        // The old file is still in place (it could not be moved aside, or the new one
        // could not be renamed): a plain replacement, else the old file stays.
        if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            DeleteFileW(backup.c_str());
            return true;
        }
        DeleteFileW(temporary.c_str());
        DeleteFileW(backup.c_str());
        error = cannot + Reason(reason) + ". The file is as it was.";
        return false;
    }
    // The old file went to the backup name and the new one did not take its place.
    if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(backup.c_str());
        return true;
    }
    if (Exists(backup) && MoveFileExW(backup.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.c_str());
        error = cannot + Reason(reason) + ". The file is as it was.";
        return false;
    }
    error = cannot + Reason(reason) + ". The new content is in " + AbsolutePath(Utf8(temporary));
    if (Exists(backup))
        error += ", the old file is " + AbsolutePath(Utf8(backup));
    error += ".";
    return false;
}

} // namespace kestrin
