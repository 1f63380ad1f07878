#include "platform/Console.h"

#include <io.h>
#include <mutex>
#include <windows.h>

namespace kestrin {

bool IsTerminal(std::FILE* stream)
{
    return stream != nullptr && _isatty(_fileno(stream)) != 0;
}

void UseParentConsole()
{
    // Redirected output (a file, a pipe) is kept as it is.
    const bool outNowhere = GetStdHandle(STD_OUTPUT_HANDLE) == nullptr;
    const bool errNowhere = GetStdHandle(STD_ERROR_HANDLE) == nullptr;
    if ((!outNowhere && !errNowhere) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (outNowhere)
        std::freopen("CONOUT$", "w", stdout);
    if (errNowhere)
        std::freopen("CONOUT$", "w", stderr);
}

namespace {

// Windows runs the console's control handler on a thread of its own for Ctrl+C and
// Ctrl+Break; one watch at a time receives them.
std::mutex watchMutex;
const std::function<void()>* watching = nullptr;

BOOL WINAPI ControlHandler(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    std::lock_guard lock(watchMutex);
    if (watching == nullptr)
        return FALSE;
    (*watching)();
    return TRUE;
}

} // namespace

struct InterruptWatch::State {
    std::function<void()> onRequest;
};

InterruptWatch::InterruptWatch(std::function<void()> onRequest) : state_(std::make_unique<State>())
{
    state_->onRequest = std::move(onRequest);
    {
        std::lock_guard lock(watchMutex);
        watching = &state_->onRequest;
    }
    SetConsoleCtrlHandler(ControlHandler, TRUE);
}

InterruptWatch::~InterruptWatch()
{
    SetConsoleCtrlHandler(ControlHandler, FALSE);
    std::lock_guard lock(watchMutex);
    watching = nullptr;
}

} // namespace kestrin
