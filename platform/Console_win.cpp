#include "platform/Console.h"

#include <io.h>
#include <mutex>
#include <windows.h>

#include <shellapi.h>

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

bool ProgramArguments(int, char**, std::vector<std::string>& arguments, std::string& error)
{
    arguments.clear();
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        error = "cannot read the command line";
        return false;
    }
    bool valid = true;
    for (int i = 0; i < count && valid; ++i) {
        const int length = int(wcslen(wide[i]));
        const int n = length == 0 ? 0
                                  : WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], length, nullptr, 0,
                                                        nullptr, nullptr);
        std::string utf8(size_t(n > 0 ? n : 0), '\0');
        if (length > 0 && (n <= 0 || WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], length,
                                                         utf8.data(), n, nullptr, nullptr) != n)) {
            error = "argument " + std::to_string(i) + " is not valid Unicode";
            valid = false;
        }
        arguments.push_back(std::move(utf8));
    }
    LocalFree(wide);
    SetConsoleOutputCP(CP_UTF8);
    return valid;
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
