#include "sim/SimulatorPort.h"

#include <memory>
#include <string>

#include "platform/PortTable.h"
#include "sim/Simulator.h"

namespace kestrin {

void RegisterSimulatorPort(int number)
{
    RegisterSimulatorPort(number, nullptr);
}

void RegisterSimulatorPort(int number, std::function<int64_t()> clockHz)
{
    SetVirtualPort(number, [clockHz](std::string& pathOut) -> std::shared_ptr<void> {
        sim::SimConfig config;
        if (clockHz) {
            const int64_t clock = clockHz();
            if (clock >= 1)
                config.ClockHz = clock;
        }
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
