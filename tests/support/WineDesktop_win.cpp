// Holds a window for as long as a test run under Wine lasts. Wine starts its desktop
// process (explorer.exe) for a program's first window and ends it a while after the last
// one is gone; started by a test, it keeps that test's output open until it ends, so each
// window test would wait for it. Started once by scripts/test-windows.sh, with its output
// in a log, it serves the whole run. Prints "ready" once the desktop is up; runs until it
// is killed.
#include <windows.h>

#include <cstdio>

int main()
{
    // A message-only window needs no display, as Qt's own hidden window on the offscreen
    // platform.
    const HWND window = CreateWindowExA(0, "STATIC", "kestrin-wine-desktop", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        nullptr, nullptr);
    if (window == nullptr) {
        std::printf("cannot make a window: error %lu\n", GetLastError());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (MSG message; GetMessageA(&message, nullptr, 0, 0) > 0;)
        DispatchMessageA(&message);
    return 0;
}
