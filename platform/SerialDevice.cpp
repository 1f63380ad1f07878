// What the serial devices of every platform share: the receive queue they keep in front of
// their driver, its size, the selected events, and how a look of the event wait ends.
#include "SerialDevice.h"

#include <algorithm>

namespace kestrin {

bool SerialDevice::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return OpenLocked();
}

bool SerialDevice::SetQueueSizes(uint32_t rx, uint32_t tx)
{
    std::lock_guard lock(mutex_);
    if (!OpenLocked())
        return false;
    SetDriverQueuesLocked(rx, tx);
    if (rx > 0) {
        // A queue that was full and now has room drains again.
        const bool wasFull = queue_.size() >= capacity_;
        capacity_ = rx;
        if (wasFull && queue_.size() < capacity_)
            WakeLocked();
    }
    return true;
}

bool SerialDevice::SetEventMask(uint32_t mask)
{
    std::lock_guard lock(mutex_);
    if (!OpenLocked())
        return false;
    eventMask_ = mask;
    SelectDriverEventsLocked(mask);
    WakeLocked();
    return true;
}

std::optional<SerialDevice::WaitResult> SerialDevice::ResultLocked(uint32_t& events)
{
    if (newBytes_) {
        newBytes_ = false;
        if (eventMask_ & kSerialEvRxChar)
            events |= kSerialEvRxChar;
    }
    if (events)
        return WaitResult::Event;
    if (lost_)
        return WaitResult::Lost;
    return std::nullopt;
}

void SerialDevice::NotifyQueued()
{
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
        newBytes_ = true;
        WakeLocked();
    }
}

std::string SerialDevice::StateRefusal() const
{
    std::lock_guard lock(mutex_);
    return stateRefusal_;
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
