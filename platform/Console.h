#pragma once
// What a command-line program needs of its console: whether a stream is a terminal, and
// the interrupt (Ctrl+C) and termination requests as a call rather than a sudden end.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrin {

// Whether the stream writes to a terminal (a person reads it), not to a file or pipe.
bool IsTerminal(std::FILE* stream);

// For a window program's --help and --version: where standard output and error lead
// nowhere (a Windows window program started from a console), they are joined to the
// console it was started from. Elsewhere nothing changes.
void UseParentConsole();

// The program's arguments, the program's name first, as UTF-8 (on Windows from the wide
// command line, so that a name the ANSI code page cannot hold arrives whole). False with
// error set for an argument that is not valid Unicode. Also makes text the program prints
// to a console read as UTF-8.
bool ProgramArguments(int argc, char** argv, std::vector<std::string>& arguments, std::string& error);

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
