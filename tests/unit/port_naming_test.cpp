#include <gtest/gtest.h>

#include "serial/port_check.h"
#include "serial/port_naming.h"

TEST(PortNaming, ComNumbersAndDevicePaths) {
    EXPECT_EQ(ComDeviceName(1, NAMING_POSIX), "/dev/ttyS0");
    EXPECT_EQ(ComDeviceName(16, NAMING_POSIX), "/dev/ttyS15");
    EXPECT_EQ(ComNumberOfDevice("/dev/ttyS3", NAMING_POSIX), 4);
    EXPECT_EQ(ComNumberOfDevice("/dev/ttyUSB0", NAMING_POSIX), 0);
    EXPECT_EQ(ComNumberOfDevice("/dev/ttyS", NAMING_POSIX), 0);
    EXPECT_EQ(ComNumberOfDevice("COM3", NAMING_POSIX), 0);

    // The system's own names from here on.
    PortSpec port;
    ASSERT_EQ(ParsePortArgument("3", port), 1);
    EXPECT_EQ(port.number, 3);
    EXPECT_EQ(port.device, ComDeviceName(3));
    ASSERT_EQ(ParsePortArgument("com12", port), 1);
    EXPECT_EQ(port.number, 12);
    EXPECT_EQ(port.device, ComDeviceName(12));
    EXPECT_EQ(ComNumberOfDevice(port.device), 12);
    ASSERT_EQ(ParsePortArgument("\\\\.\\com12", port), 1);
    EXPECT_EQ(port.number, 12);
    EXPECT_EQ(port.device, ComDeviceName(12));
    ASSERT_EQ(ParsePortArgument("/dev/serial/by-id/usb-Maker_X-if00", port), 1);
    EXPECT_EQ(port.number, 0);
    EXPECT_EQ(port.device, "/dev/serial/by-id/usb-Maker_X-if00");
    for (const char* bad : {"", "0", "COM", "COM0", "fast", "COMx", "\\\\.\\12", "\\\\.\\COMx"})
        EXPECT_EQ(ParsePortArgument(bad, port), 0) << bad;

    // "PortName" wins over "ComPort"; port 0 names no device.
    EXPECT_EQ(PortFromSettings(2, "/dev/ttyACM0").device, "/dev/ttyACM0");
    EXPECT_EQ(PortFromSettings(2, "").device, ComDeviceName(2));
    EXPECT_EQ(PortFromSettings(0, "").device, "");
    EXPECT_EQ(PortLabel(PortFromSettings(0, "")), "0");
    EXPECT_EQ(PortLabel(PortFromSettings(5, "")), "5");
    EXPECT_EQ(PortLabel(PortFromSettings(1, "/dev/ttyUSB1")), "/dev/ttyUSB1");
}

// Windows opens COM10 and above only by their device-namespace name; the
// number is read back from either form, in any case.
TEST(PortNaming, WindowsComNames) {
    EXPECT_EQ(ComDeviceName(1, NAMING_WINDOWS), "COM1");
    EXPECT_EQ(ComDeviceName(9, NAMING_WINDOWS), "COM9");
    EXPECT_EQ(ComDeviceName(10, NAMING_WINDOWS), "\\\\.\\COM10");
    EXPECT_EQ(ComDeviceName(16, NAMING_WINDOWS), "\\\\.\\COM16");
    for (int n : {1, 9, 10, 16, 256}) EXPECT_EQ(ComNumberOfDevice(ComDeviceName(n, NAMING_WINDOWS), NAMING_WINDOWS), n);
    EXPECT_EQ(ComNumberOfDevice("com4", NAMING_WINDOWS), 4);
    EXPECT_EQ(ComNumberOfDevice("\\\\.\\COM3", NAMING_WINDOWS), 3);
    for (const char* none : {"COM", "COMx", "\\\\.\\LPT1", "\\\\?\\COM3", "/dev/ttyS3", "COM12345"})
        EXPECT_EQ(ComNumberOfDevice(none, NAMING_WINDOWS), 0) << none;
    // auto:GLOB on Windows: over the plain names, in any case, the whole name.
    EXPECT_EQ(PlainComName("\\\\.\\COM12"), "COM12");
    EXPECT_EQ(PlainComName("COM3"), "COM3");
    for (const char* name : {"COM10", "com19"}) EXPECT_TRUE(ComNameMatches("COM1?", name)) << name;
    for (const char* name : {"COM1", "COM123", "COM20"}) EXPECT_FALSE(ComNameMatches("com1?", name)) << name;
    EXPECT_TRUE(ComNameMatches("*", "COM7"));
    EXPECT_TRUE(ComNameMatches("c*m*5", "COM15"));
    EXPECT_TRUE(ComNameMatches("COM*5*", "COM515"));
    EXPECT_FALSE(ComNameMatches("COM*5", "COM51"));
}

TEST(PortNaming, WindowsVersionTable) {
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 0, 950), 1);
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 0, 1080), 2);
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 0, 1111), 3);
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 0, 900), 0);
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 10, 1998), 4);
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 10, 2000), 5);
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 10, 0x10000 + 2222), 6);  // only the low 16 bits count
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 10, 2183), 6);
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 10, 1997), 0);
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 90, 3000), 7);
    EXPECT_EQ(ClassifyWindowsVersion(1, 4, 20, 3000), 0);
    EXPECT_EQ(ClassifyWindowsVersion(2, 3, 51, 1057), 101);
    EXPECT_EQ(ClassifyWindowsVersion(2, 4, 0, 1381), 102);
    EXPECT_EQ(ClassifyWindowsVersion(2, 5, 0, 2195), 103);
    EXPECT_EQ(ClassifyWindowsVersion(2, 5, 1, 2600), 104);
    EXPECT_EQ(ClassifyWindowsVersion(2, 5, 2, 3790), 0);   // later versions are not probed
    EXPECT_EQ(ClassifyWindowsVersion(2, 6, 1, 7601), 0);
    EXPECT_EQ(ClassifyWindowsVersion(2, 10, 0, 19045), 0);
    EXPECT_EQ(ClassifyWindowsVersion(3, 1, 0, 0), 201);
}

TEST(PortNaming, NetworkPortsAreKeptAsWrittenAndCheckedWhole) {
    NetworkPortName name;
    ASSERT_EQ(ParseNetworkPortName("rfc2217://keypad-gw.example:4001", name), 1);
    EXPECT_TRUE(name.rfc2217);
    EXPECT_EQ(name.host, "keypad-gw.example");
    EXPECT_EQ(name.port, 4001);
    EXPECT_EQ(name.address, "keypad-gw.example:4001");
    ASSERT_EQ(ParseNetworkPortName("TCP://[fe80::1%eth0]:65535", name), 1);
    EXPECT_FALSE(name.rfc2217);
    EXPECT_EQ(name.host, "fe80::1%eth0");
    EXPECT_EQ(name.address, "[fe80::1%eth0]:65535");

    PortSpec port;
    ASSERT_EQ(ParsePortArgument("tcp://10.0.0.7:2000", port), 1);
    EXPECT_EQ(port.number, 0);
    EXPECT_EQ(port.device, "tcp://10.0.0.7:2000");
    EXPECT_EQ(PortLabel(PortFromSettings(3, "rfc2217://[::1]:7000")), "rfc2217://[::1]:7000");
    for (const char* bad : {"tcp://host", "tcp://host:", "tcp://:4001", "tcp://host:0", "tcp://host:65536",
                            "tcp://host:40x1", "tcp://::1:4001", "tcp://[]:4001", "tcp://a b:1", "telnet://host:23",
                            "rfc2217://host:4001/", "ssh://host:22"}) {
        EXPECT_EQ(ParsePortArgument(bad, port), 0) << bad;
    }
    EXPECT_TRUE(IsNetworkPortName("ssh://host:22"));  // the network layer says what is wrong with it
    EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
}
