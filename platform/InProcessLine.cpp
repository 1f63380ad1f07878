#include "platform/InProcessLine.h"

#include <algorithm>
#include <chrono>
#include <map>

namespace kestrin {
namespace {

constexpr const char* kPathPrefix = "kestrin-line:";

std::mutex registryMutex;
std::map<std::string, std::weak_ptr<InProcessLine>>& Registry()
{
    static std::map<std::string, std::weak_ptr<InProcessLine>> lines;
    return lines;
}

size_t TakeFront(std::deque<uint8_t>& queue, uint8_t* buffer, size_t max)
{
    const size_t n = std::min(max, queue.size());
    std::copy_n(queue.begin(), n, buffer);
    queue.erase(queue.begin(), queue.begin() + std::ptrdiff_t(n));
    return n;
}

} // namespace

std::shared_ptr<InProcessLine> InProcessLine::Create()
{
    static uint64_t next = 0;
    auto line = std::make_shared<InProcessLine>();
    std::lock_guard lock(registryMutex);
    line->path_ = kPathPrefix + std::to_string(++next);
    Registry()[line->path_] = line;
    return line;
}

std::shared_ptr<InProcessLine> InProcessLine::Find(const std::string& path)
{
    std::lock_guard lock(registryMutex);
    const auto it = Registry().find(path);
    return it == Registry().end() ? nullptr : it->second.lock();
}

bool InProcessLine::IsLinePath(const std::string& path)
{
    return path.rfind(kPathPrefix, 0) == 0;
}

bool InProcessLine::Attach(std::function<void()> wake)
{
    std::lock_guard lock(mutex_);
    if (attached_ || closed_)
        return false;
    attached_ = true;
    wake_ = std::move(wake);
    return true;
}

void InProcessLine::Detach()
{
    std::lock_guard lock(mutex_);
    attached_ = false;
    wake_ = nullptr;
}

size_t InProcessLine::TakeFromDevice(uint8_t* buffer, size_t max)
{
    std::lock_guard lock(mutex_);
    const size_t n = TakeFront(toProgram_, buffer, max);
    if (n > 0)
        changed_.notify_all();
    return n;
}

void InProcessLine::SendToDevice(const uint8_t* bytes, size_t count)
{
    std::lock_guard lock(mutex_);
    toDevice_.insert(toDevice_.end(), bytes, bytes + count);
    changed_.notify_all();
}

void InProcessLine::PurgeFromDevice()
{
    std::lock_guard lock(mutex_);
    toProgram_.clear();
    changed_.notify_all();
}

bool InProcessLine::Gone() const
{
    std::lock_guard lock(mutex_);
    return closed_ && toProgram_.empty();
}

size_t InProcessLine::TakeFromProgram(uint8_t* buffer, size_t max)
{
    std::lock_guard lock(mutex_);
    return TakeFront(toDevice_, buffer, max);
}

size_t InProcessLine::SendToProgram(const uint8_t* bytes, size_t count)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return 0;
    const size_t n = std::min(count, kCapacity - std::min(kCapacity, toProgram_.size()));
    toProgram_.insert(toProgram_.end(), bytes, bytes + n);
    if (n > 0 && wake_)
        wake_();
    return n;
}

size_t InProcessLine::QueuedForProgram() const
{
    std::lock_guard lock(mutex_);
    return toProgram_.size();
}

template <typename Condition>
bool InProcessLine::WaitFor(int timeoutMs, Condition condition)
{
    std::unique_lock lock(mutex_);
    if (timeoutMs < 0)
        changed_.wait(lock, condition);
    else
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), condition);
    return condition();
}

bool InProcessLine::WaitFromProgram(int timeoutMs)
{
    return WaitFor(timeoutMs, [this] { return interrupted_ || !toDevice_.empty(); });
}

bool InProcessLine::WaitRoom(int timeoutMs)
{
    return WaitFor(timeoutMs, [this] { return interrupted_ || toProgram_.size() < kCapacity; });
}

bool InProcessLine::WaitInterrupt(int timeoutMs)
{
    return WaitFor(timeoutMs, [this] { return interrupted_; });
}

void InProcessLine::Interrupt()
{
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    changed_.notify_all();
}

bool InProcessLine::Interrupted() const
{
    std::lock_guard lock(mutex_);
    return interrupted_;
}

void InProcessLine::Close()
{
    {
        std::lock_guard registry(registryMutex);
        Registry().erase(path_);
    }
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
    if (wake_)
        wake_();
}

} // namespace kestrin
