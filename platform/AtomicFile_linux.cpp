#include "platform/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrin {

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path.front() == '/')
        return path;
    std::string folder(PATH_MAX, '\0');
    if (getcwd(folder.data(), folder.size()) == nullptr)
        return path;
    folder.resize(std::strlen(folder.c_str()));
    return folder == "/" ? "/" + path : folder + "/" + path;
}

std::FILE* OpenFile(const std::string& path, const char* mode)
{
    return std::fopen(path.c_str(), mode);
}

namespace {

// Writes all of bytes to fd; false with errno set when the system refused some.
bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        bytes.remove_prefix(size_t(written));
    }
    return true;
}

// Makes a new temporary file beside target, with the permissions a new file gets (or
// target's own); -1 with errno set when none could be made.
int CreateTemporary(const std::string& target, const struct stat* existing, std::string& temporary)
{
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = target + ".save-" + std::to_string(entropy() % 1000000000u);
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd >= 0 && existing != nullptr && fchmod(fd, existing->st_mode & 07777) != 0) {
            const int reason = errno;
            close(fd);
            unlink(temporary.c_str());
            errno = reason;
            return -1;
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

bool SaveFileAtomically(const std::string& path, std::string_view bytes, std::string& error)
{
    // Through a symbolic link the file it names is replaced, not the link.
    std::string target = path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    struct stat existing {};
    const bool exists = stat(target.c_str(), &existing) == 0;

    std::string temporary;
    int fd = CreateTemporary(target, exists ? &existing : nullptr, temporary);
    bool saved = fd >= 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
    int reason = errno;
    if (fd >= 0 && close(fd) != 0 && saved) {
        saved = false;
        reason = errno;
    }
    if (saved && rename(temporary.c_str(), target.c_str()) != 0) {
        saved = false;
        reason = errno;
    }
    if (saved)
        return true;
    if (fd >= 0)
        unlink(temporary.c_str());
    error = "Cannot save " + AbsolutePath(path) + ": " + std::strerror(reason);
    return false;
}

} // namespace kestrin
