// The serial port list of Windows: the values of the registry key SERIALCOMM under
// HKEY_LOCAL_MACHINE, written here in the throwaway Wine prefix (and put back as they were).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/PortList_win.h"

using kestrin::PortEntry;
using Texts = std::vector<std::string>;

namespace {

const char* const SerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct Value {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

// The key's values while the object lives: the test's own instead of the machine's.
class SerialCommValues {
public:
    SerialCommValues()
    {
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, SerialComm, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        saved_ = Read();
        Clear();
    }
    ~SerialCommValues()
    {
        Clear();
        for (const Value& v : saved_)
            RegSetValueExA(key_, v.name.c_str(), 0, v.type, v.data.data(), DWORD(v.data.size()));
        RegCloseKey(key_);
    }
    void AddText(const std::string& name, const std::string& port)
    {
        RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                       DWORD(port.size() + 1));
    }
    void AddNumber(const std::string& name, DWORD number)
    {
        RegSetValueExA(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    const std::vector<Value>& Saved() const { return saved_; }

private:
    std::vector<Value> Read() const
    {
        std::vector<Value> values;
        for (DWORD i = 0;; ++i) {
            char name[16384];
            BYTE data[4096];
            DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
            if (RegEnumValueA(key_, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
                break;
            values.push_back({std::string(name, nameSize), type, std::vector<BYTE>(data, data + dataSize)});
        }
        return values;
    }
    void Clear()
    {
        for (const Value& v : Read())
            RegDeleteValueA(key_, v.name.c_str());
    }

    HKEY key_ = nullptr;
    std::vector<Value> saved_;
};

Texts TextsOf(const kestrin::PortListResult& r)
{
    Texts texts;
    for (const PortEntry& e : r.items) {
        texts.push_back(e.text);
        EXPECT_EQ("COM" + std::to_string(e.number), e.text) << "the number is the port's own";
    }
    return texts;
}

} // namespace

TEST(PortList, TheRegistryValuesSortedWithTheVcpPortSelected)
{
    // The prefix was set up with the simulated analyser as an FTDI port.
    if (const char* com = std::getenv("KESTRIN_SIM_COM")) {
        const kestrin::PortListResult machine = kestrin::BuildPortList(kestrin::WindowsPortProvider().Enumerate());
        ASSERT_GE(machine.selected, 0);
        EXPECT_EQ(machine.items[size_t(machine.selected)].text, std::string("COM") + com);
    }

    SerialCommValues values;
    values.AddText("\\Device\\Serial0", "COM2");
    values.AddText("\\Device\\Serial1", "COM10");
    values.AddText("\\Device\\Serial2", "COM1");
    values.AddText("\\Device\\Serial3", "LPT1");    // not a COM port
    values.AddText("\\Device\\Serial4", "COMX");    // no number
    values.AddNumber("\\Device\\Serial5", 3);       // not a text
    kestrin::PortListResult r = kestrin::BuildPortList(kestrin::WindowsPortProvider().Enumerate());
    EXPECT_EQ(TextsOf(r), (Texts{"COM1", "COM10", "COM2"}));
    EXPECT_EQ(r.selected, 0) << "no VCP port: the first one";

    values.AddText("\\Device\\VCP0", "COM7");
    r = kestrin::BuildPortList(kestrin::WindowsPortProvider().Enumerate());
    EXPECT_EQ(TextsOf(r), (Texts{"COM1", "COM10", "COM2", "COM7"}));
    EXPECT_EQ(r.selected, 3);
    // Two VCP ports: the one enumerated last (by name and by age alike).
    values.AddText("\\Device\\VCP1", "COM4");
    r = kestrin::BuildPortList(kestrin::WindowsPortProvider().Enumerate());
    EXPECT_EQ(TextsOf(r), (Texts{"COM1", "COM10", "COM2", "COM4", "COM7"}));
    EXPECT_EQ(r.selected, 3);
}

TEST(PortList, AMissingKeyGivesNoPorts)
{
    const kestrin::PortListResult r =
        kestrin::BuildPortList(kestrin::WindowsPortProvider("HARDWARE\\DEVICEMAP\\KESTRINNOSUCHKEY").Enumerate());
    EXPECT_TRUE(r.items.empty());
    EXPECT_EQ(r.selected, -1);
}
