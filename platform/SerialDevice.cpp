// The receive queue that every platform's serial device keeps in front of its driver.
#include "SerialDevice.h"

#include <algorithm>

namespace kestrin {

void SerialDevice::NotifyQueued()
{
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
        newBytes_ = true;
        WakeLocked();
    }
}

uint32_t SerialDevice::ClearError(uint32_t* errors)
{
    std::lock_guard lock(mutex_);
    if (errors)
        *errors = 0;
    return uint32_t(queue_.size());
}

int32_t SerialDevice::ReadLocked(void* buffer, int32_t count)
{
    if (count <= 0)
        return 0;
    const bool wasFull = queue_.size() >= capacity_;
    const size_t n = std::min(size_t(count), queue_.size());
    std::copy_n(queue_.begin(), n, static_cast<uint8_t*>(buffer));
    queue_.erase(queue_.begin(), queue_.begin() + std::ptrdiff_t(n));
    if (wasFull && queue_.size() < capacity_)
        WakeLocked();
    return int32_t(n);
}

int32_t SerialDevice::Read(void* buffer, int32_t count)
{
    std::lock_guard lock(mutex_);
    return ReadLocked(buffer, count);
}

void SerialDevice::UnreadLocked(const uint8_t* bytes, size_t count)
{
    queue_.insert(queue_.begin(), bytes, bytes + count);
}

} // namespace kestrin
