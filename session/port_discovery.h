#pragma once
#include <string>
#include <vector>

// The devices an auto port probes: for "auto" every serial port the system
// lists and the /dev/serial/by-id links, for "auto:GLOB" the paths matching
// GLOB. One name per device (a link and its target count once), sorted.
// On Windows, GLOB is matched (any case) against the COM names the system lists.
std::vector<std::string> CandidatePorts(const std::string& autoName);
// The plain names (COM10, not \\.\COM10) of `devices` that match GLOB; all of them when it is empty.
std::vector<std::string> ComNamesMatching(const std::string& glob, const std::vector<std::string>& devices);

// What a port name stands for, so that two names of one device compare
// equal: a device node by its device number (after links, /dev/serial/by-id
// included), a network port by host and port (either scheme).
std::string DeviceIdentity(const std::string& name);
