#pragma once
// The keypad --simulate serves: on a pseudo-terminal where the system has them, else on a
// loopback TCP port. Both have Open(error), DevicePath(), Start() and Stop().
#ifdef _WIN32
#include "session/loopback_keypad.h"
using CSimulatedKeypad = CLoopbackKeypad;
#else
#include "sim/pty_server.h"
using CSimulatedKeypad = CKeypadPtyServer;
#endif
