#include "serial/PortTable.h"
#include "serial/SerialPort.h"

#include <gtest/gtest.h>

#include <string_view>

namespace varnis {
namespace {

TEST(PortTable, PathsGoBehindNumbersOneToTenOnly)
{
    PortTable table;
    EXPECT_EQ(table.PathOf(1), "");
    table.SetPath(1, "/dev/a");
    table.SetPath(10, "/dev/j");
    table.SetPath(0, "/dev/zero-th");
    table.SetPath(11, "/dev/eleventh");
    EXPECT_EQ(table.PathOf(1), "/dev/a");
    EXPECT_EQ(table.PathOf(10), "/dev/j");
    EXPECT_EQ(table.PathOf(0), "");
    EXPECT_EQ(table.PathOf(11), "");
    table.SetPath(1, "");
    EXPECT_EQ(table.PathOf(1), "");
}

// "/dev/ttyUSB<n>", "/dev/ttyACM<n>" or "/dev/ttyS<n>".
bool IsSerialNode(std::string_view path)
{
    for (const std::string_view prefix : {"/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"}) {
        if (path.starts_with(prefix) && path.size() > prefix.size() &&
            path.find_first_not_of("0123456789", prefix.size()) == std::string_view::npos) {
            return true;
        }
    }
    return false;
}

TEST(PortTable, SystemTableHoldsOnlySerialDeviceNodesInOrder)
{
    const PortTable table = PortTable::FromSystem();
    int nLastKind = -1;
    bool bGap = false;
    for (unsigned n = 1; n <= PortTable::kPortCount; ++n) {
        const std::string& path = table.PathOf(n);
        if (path.empty()) {
            bGap = true;
            continue;
        }
        EXPECT_FALSE(bGap) << "COM" << n << " follows an empty number";
        EXPECT_TRUE(IsSerialNode(path)) << path;
        const int nKind = path.starts_with("/dev/ttyUSB") ? 0 : path.starts_with("/dev/ttyACM") ? 1 : 2;
        EXPECT_GE(nKind, nLastKind) << path;
        nLastKind = nKind;
    }
}

TEST(LineSettingsText, ParsesTheComposedTextAndRejectsWhatNoLineHas)
{
    LineSettings settings;
    ASSERT_TRUE(BuildLineSettings("baud=9600 parity=N data=8 stop=1", settings));
    EXPECT_EQ(settings.m_nBaud, 9600);
    EXPECT_EQ(settings.m_cParity, 'N');
    EXPECT_EQ(settings.m_nDataBits, 8);
    EXPECT_EQ(settings.m_nStopBits, 1);

    ASSERT_TRUE(BuildLineSettings("baud=19200 parity=e data=7 stop=2", settings));
    EXPECT_EQ(settings.m_cParity, 'E');
    EXPECT_EQ(settings.m_nStopBits, 2);

    const LineSettings before = settings;
    for (const char* bad :
         {"baud=9600 parity=X data=8 stop=1", "baud=9600 parity=N data=9 stop=1", "baud=9600 parity=N data=4 stop=1",
          "baud=9600 parity=N data=8 stop=3", "baud=0 parity=N data=8 stop=1", "baud=-5 parity=N data=8 stop=1",
          "baud=9600 parity=NN", "speed=9600", "baud9600"}) {
        EXPECT_FALSE(BuildLineSettings(bad, settings)) << bad;
        EXPECT_EQ(settings.m_nDataBits, before.m_nDataBits) << bad << " changed the settings although refused";
        EXPECT_EQ(settings.m_nBaud, before.m_nBaud) << bad;
    }
}

}  // namespace
}  // namespace varnis
