#pragma once
// The keypad --simulate serves: on a pseudo-terminal where the system has them, else on a
// loopback TCP port. Both have Open(error), DevicePath(), Start() and Stop().
#ifdef _WIN32
#include "loopback_keypad.h"
using CSimulatedKeypad = CLoopbackKeypad;
#else
#include "pty_server.h"
using CSimulatedKeypad = CKeypadPtyServer;
#endif
