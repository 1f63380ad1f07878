#pragma once
// A port with its own number in the port table, on a fresh pseudo-terminal whose
// master side plays the analyser.
#include "platform/PortTable.h"
#include "platform/PtyHelpers.h"
#include "serial/uVornComport.h"

#include <gtest/gtest.h>

#include <string>

// Bytes that show any loss, doubling or reordering.
inline std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 7 + i / 251) & 0xFF);
    return s;
}

class PortTest : public ::testing::Test {
protected:
    static constexpr int kNumber = 40;
    PortTest()
    {
        kestrin::SetPortPath(kNumber, pty.slavePath);
        port.SetPort(kNumber);
    }
    ~PortTest() override
    {
        port.SetActive(false);
        kestrin::RemovePort(kNumber);
    }
    testing_pty::Pty pty;
    TVornComPort port;
};
