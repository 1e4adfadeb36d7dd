#pragma once
#include <string>
#include <vector>

#include "serial/port_factory.h"  // DeviceIdentity: what counts as one device here

// The devices an auto port probes: for "auto" every serial port the system
// lists and the /dev/serial/by-id links, for "auto:GLOB" the paths matching
// GLOB. One name per device (a link and its target count once), sorted.
// On Windows, GLOB is matched against the COM names the system lists (COM10, not \\.\COM10).
std::vector<std::string> CandidatePorts(const std::string& autoName);
