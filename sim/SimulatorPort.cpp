#include "sim/SimulatorPort.h"

#include <memory>
#include <string>

#include "platform/PortTable.h"
#include "sim/Simulator.h"

namespace kestrin {

void RegisterSimulatorPort(int number)
{
    SetVirtualPort(number, [](std::string& pathOut) -> std::shared_ptr<void> {
        auto simulator = std::make_shared<sim::Simulator>(sim::SimConfig{});
        std::string error;
        if (!simulator->Start(error)) {
            pathOut.clear();
            return nullptr;
        }
        pathOut = simulator->SlavePath();
        return simulator;
    });
}

} // namespace kestrin
