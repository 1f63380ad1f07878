// The serial port list: filled when the window is shown and again whenever it is opened.
#include "frmmain/TMainForm.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/PortTable.h"

void TMainForm::FillPortList()
{
    // The port chosen before stays chosen while it is still there.
    const std::string chosen = cbComPort->currentIndex() >= 0 ? cbComPort->currentText().toStdString() : std::string();
    // The simulated analyser, when the program has one, follows the device ports, so it
    // is selected only when there is no device port.
    std::vector<kestrin::PortEntry> trailing;
    if (const auto simulator = kestrin::FindPort(kestrin::SimulatorPortNumber); simulator && simulator->openVirtual) {
        kestrin::PortEntry entry;
        entry.text = kestrin::SimulatorPortText;
        entry.number = kestrin::SimulatorPortNumber;
        trailing.push_back(entry);
    }
    const std::vector<kestrin::PortEntry> ports =
        EnumeratePorts ? EnumeratePorts() : kestrin::MakeSystemPortProvider()->Enumerate();
    const kestrin::PortListResult list = kestrin::BuildPortList(ports, trailing, chosen);

    // A number of the list before that is no longer listed leads nowhere any more.
    for (int i = 0; i < cbComPort->count(); ++i) {
        const int number = cbComPort->itemData(i).toInt();
        if (std::none_of(list.items.begin(), list.items.end(),
                         [number](const kestrin::PortEntry& e) { return e.number == number; }))
            kestrin::RemovePort(number);
    }
    cbComPort->clear();
    for (const kestrin::PortEntry& e : list.items) {
        cbComPort->addItem(QString::fromStdString(e.text), e.number);
        const std::string tip = kestrin::PortToolTip(e);
        if (!tip.empty())
            cbComPort->setItemData(cbComPort->count() - 1, QString::fromStdString(tip), Qt::ToolTipRole);
    }
    cbComPort->setCurrentIndex(list.selected);
    cbComPortChange();
}

void TMainForm::cbComPortDropDown()
{
    // An analyser plugged in after start-up, or a port gone since, shows as the list opens.
    // While a sweep runs the list is disabled: the worker's port never changes under it.
    if (ComThread == nullptr)
        FillPortList();
}

void TMainForm::cbComPortChange()
{
    // The closed field tells which port Start opens, as its item does in the open list.
    cbComPort->setToolTip(cbComPort->currentData(Qt::ToolTipRole).toString());
}
