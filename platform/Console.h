#pragma once
// What a command-line program needs of its console: whether a stream is a terminal, and
// the interrupt (Ctrl+C) and termination requests as a call rather than a sudden end.
#include <cstdio>
#include <functional>
#include <memory>

namespace kestrin {

// Whether the stream writes to a terminal (a person reads it), not to a file or pipe.
bool IsTerminal(std::FILE* stream);

// For a window program's --help and --version: where standard output and error lead
// nowhere (a Windows window program started from a console), they are joined to the
// console it was started from. Elsewhere nothing changes.
void UseParentConsole();

// While it exists, an interrupt (SIGINT) or termination request (SIGTERM) no longer ends
// the process: each calls onRequest on a thread of its own instead. Make it on the main
// thread before any other thread, which then all leave these requests to it.
class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void()> onRequest);
    ~InterruptWatch(); // stops watching; requests then end the process again
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace kestrin
