#pragma once
#include <string>
#include <vector>

// The devices an auto port probes: for "auto" every serial port the system
// lists and the /dev/serial/by-id links, for "auto:GLOB" the paths matching
// GLOB. One name per device (a link and its target count once), sorted.
// On Windows, GLOB is matched against the COM names the system lists (COM10, not \\.\COM10).
std::vector<std::string> CandidatePorts(const std::string& autoName);

// What a port name stands for, so that two names of one device compare
// equal: a device node by its device number (after links, /dev/serial/by-id
// included), a network port by host and port (either scheme).
std::string DeviceIdentity(const std::string& name);
