// The availability check against the running Windows (Wine in the cross
// build): the version it reads, and real COM names probed.
#include <gtest/gtest.h>

#include "serial/port_check.h"
#include "serial/port_naming.h"

TEST(WindowsPort, ProbeOpensAndClosesAndSaysWhyNot) {
    CommOpenError why = COMM_OPEN_OK;
    // Twice: the first probe closed what it opened.
    EXPECT_EQ(ProbeComPort("NUL", &why), 1);
    EXPECT_EQ(ProbeComPort("\\\\.\\NUL", &why), 1);
    EXPECT_EQ(why, COMM_OPEN_OK);
    // COM200 does not exist, in either form: only the device-namespace one is
    // what the loader asks for.
    EXPECT_EQ(ComDeviceName(200), "\\\\.\\COM200");
    for (const std::string& name : {ComDeviceName(200), std::string("COM200")}) {
        why = COMM_OPEN_OK;
        EXPECT_EQ(ProbeComPort(name, &why), 0) << name;
        EXPECT_EQ(why, COMM_NOT_FOUND) << name;
    }
    // The port layer's own open, tried first: whatever the version, it says why not.
    why = COMM_OPEN_OK;
    EXPECT_EQ(TryComPort(ComDeviceName(200), &why), 0);
    EXPECT_EQ(why, COMM_NOT_FOUND);
    EXPECT_EQ(TryComPort("NUL", &why), 1);
}

// Only the NT family up to XP, and CE, are probed: a port that does not exist
// counts as available on every other version, and opening it says why not.
TEST(WindowsPort, TheVersionDecidesWhetherToProbe) {
    int code = -1;
    ASSERT_EQ(GetWindowsVersionCode(code), 1);
    CommOpenError why = COMM_OPEN_OK;
    bool probed = code >= 99;
    EXPECT_EQ(IsComPortAvailable(ComDeviceName(200), &why), probed ? 0 : 1) << "version code " << code;
    EXPECT_EQ(why, probed ? COMM_NOT_FOUND : COMM_OPEN_OK);
    EXPECT_EQ(IsComPortAvailable("NUL", &why), 1);
}
