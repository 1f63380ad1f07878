#include "sim/SimulatorPort.h"

#include <memory>
#include <string>

#include "platform/PortTable.h"
#include "sim/Simulator.h"

namespace kestrin {

void RegisterSimulatorPort(int number)
{
    SetVirtualPort(number, [](const VirtualDeviceOptions& options, std::string& pathOut) -> std::shared_ptr<void> {
        sim::SimConfig config;
        if (options.ddsClockHz >= 1)
            config.ClockHz = options.ddsClockHz;
        auto simulator = std::make_shared<sim::Simulator>(config);
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
