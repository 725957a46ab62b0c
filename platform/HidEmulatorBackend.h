#pragma once
// The HID backend of the emulated mouse: every HidBackend call becomes a
// request on the `mouse-emulator` socket. The emulated mouse describes
// itself with its vendor and product numbers, its interface and its report
// descriptor; collections and hardware IDs are derived from those with the
// same parser and the same ID builder as the hidraw backend uses, so one
// config.ini entry matches on both roads.
//
// Interface paths have the form "emulator:<socket>#<n>" (n = the mouse's
// index on that server). Each open device is its own connection; input
// reports arrive on it as notifications and are read without polling.

#include "platform/HidBackend.h"

#include <string>

namespace platform {

// Result code for an emulator status (platform::emu::Status as its number).
uint32_t hidErrorForEmulatorStatus(uint16_t status);

// The interface path of mouse `index` behind socketPath.
std::string emulatorInterfacePath(const std::string& socketPath, int index);

}  // namespace platform
