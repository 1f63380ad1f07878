// What a pseudo-terminal does the same way on every platform.
#include "platform/PseudoTerminal.h"

namespace kestrin {

bool PseudoTerminal::WriteAll(const void* data, size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
        const long n = Write(bytes + done, size - done);
        if (n < 0)
            return false;
        if (n > 0)
            done += size_t(n);
        else if (WaitWritable(-1) != WaitResult::Ready)
            return false;
    }
    return true;
}

} // namespace kestrin
