#pragma once
// A port with its own number in the port table, on a fresh pseudo-terminal whose
// master side plays the analyser.
#include "platform/PortTable.h"
#include "serial/uVornComport.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

class PortTest : public ::testing::Test {
protected:
    static constexpr int kNumber = 40;
    PortTest()
    {
        kestrin::SetPortPath(kNumber, pty.slavePath);
        port.SetPort(kNumber);
    }
    ~PortTest() override { kestrin::RemovePort(kNumber); } // the port closes as it goes
    Pty pty;
    TVornComPort port;
};
