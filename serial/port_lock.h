#pragma once
#include <string>

// The lock file other programs look for before they use a serial device
// (LCK..NAME in the lock folder, the holder's process id on its first line).
// The folder is writable by everyone, so what lies there is only believed
// when a live process stands behind it: a file a killed program left, one
// with junk in it, a symlink or a file of another kind is set aside. The
// advisory lock on the device itself guards real use.
struct PortLockHolder {
    bool held = false;
    long pid = 0;
    std::string program;  // as the system names the live holder, else as its lock file does
    std::string problem;  // a stale lock that could not be set aside, and why
};

// The lock file Qt takes for `device` (empty where there is none, as on Windows).
std::string PortLockPath(const std::string& device);
// Who holds the lock of `device`; a stale lock is moved out of the way first.
PortLockHolder ClearStaleLock(const std::string& device);
// " (orbix-flash, process 1234)" for a live holder, or the problem; empty otherwise.
std::string HolderText(const PortLockHolder& holder);
