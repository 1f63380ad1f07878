#pragma once
// The mutex of objects that come and go while the program runs (ports, workers, lines).
// With mingw-w64's POSIX threads, std::mutex never destroys its pthread mutex: its
// destructor does nothing, and the pthread library makes a block of memory for each mutex
// at its first lock and an event handle at its first contended lock, which then stay for
// the life of the process. Kestrin's Mutex on Windows destroys them with the object.
#include <mutex>
#ifdef _WIN32
#include <pthread.h>
#endif

namespace kestrin {

#ifdef _WIN32
class Mutex : public std::mutex {
public:
    Mutex() = default;
    ~Mutex() { pthread_mutex_destroy(native_handle()); }
};
#else
using Mutex = std::mutex;
#endif

} // namespace kestrin
