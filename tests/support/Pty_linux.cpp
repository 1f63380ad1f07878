#include "support/Pty.h"

#include "platform/PseudoTerminal.h"

struct Pty::Impl {
    kestrin::PseudoTerminal terminal;
};

Pty::Pty() : impl_(std::make_unique<Impl>())
{
    std::string error;
    impl_->terminal.Open(false, error);
    slavePath = impl_->terminal.SlavePath();
    fd = int(impl_->terminal.NativeHandle());
}

Pty::Pty(const std::string& path) : impl_(std::make_unique<Impl>())
{
    impl_->terminal.OpenPath(path);
    fd = int(impl_->terminal.NativeHandle());
}

Pty::~Pty() = default;

void Pty::Close()
{
    impl_->terminal.Close();
    fd = -1;
}

bool Pty::Send(const std::string& bytes) { return impl_->terminal.WriteAll(bytes.data(), bytes.size()); }

std::string Pty::Receive(int firstMs, int quietMs)
{
    using Wait = kestrin::PseudoTerminal::WaitResult;
    std::string got;
    long n = 1; // the last read: less than 0 when the other side hung up
    for (char buf[4096]; n >= 0 && impl_->terminal.WaitReadable(got.empty() ? firstMs : quietMs) != Wait::TimedOut;)
        if ((n = impl_->terminal.Read(buf, sizeof buf)) > 0)
            got.append(buf, size_t(n));
    hungUp = n < 0;
    return got;
}
