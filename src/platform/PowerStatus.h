// SPDX-License-Identifier: GPL-2.0-or-later
// The mains line status of the system's power status: whether the machine
// runs on mains power, on battery, or cannot tell.
#pragma once

#include <cstdint>
#include <filesystem>

namespace quillo {

constexpr uint8_t kAcLineOffline = 0;
constexpr uint8_t kAcLineOnline = 1;
constexpr uint8_t kAcLineUnknown = 255;

// From the supplies of `powerSupplyFolder` whose type is "Mains": online
// when one of them is online, offline when they all report offline, and
// unknown when there is none (a desktop without such an entry, a container).
uint8_t ReadAcLineStatus(const std::filesystem::path& powerSupplyFolder = "/sys/class/power_supply");

} // namespace quillo
