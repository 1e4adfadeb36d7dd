#pragma once
#include <string>
#include <vector>

// The devices an auto port probes: for "auto" every serial port the system
// lists and the /dev/serial/by-id links, for "auto:GLOB" the paths matching
// GLOB. One name per device (a link and its target count once), sorted.
std::vector<std::string> CandidatePorts(const std::string& autoName);
