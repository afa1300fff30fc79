// The per-slot settings lookups.  Slot n's port and baud rate are the values
// "dvp<n>" and "dvb<n>" of HKEY_LOCAL_MACHINE "SOFTWARE\Clients\Route", its
// display name "dvn<n>" of "SOFTWARE\DevName\Device".  Every call reads the
// store afresh; "" when nothing is stored.
#pragma once

#include <cstdint>
#include <string>

#include "tarvex/registry_backend.h"

namespace tarvex::mdlPublic {

inline constexpr const char* kRouteKey = "SOFTWARE\\Clients\\Route";
inline constexpr const char* kDeviceNameKey = "SOFTWARE\\DevName\\Device";

std::string GetPortSetting(RegistryBackend& registry, int16_t ModemID);
std::string GetBaudRateSetting(RegistryBackend& registry, int16_t ModemID);
std::string GetDeviceNameSetting(RegistryBackend& registry, int16_t ModemID);

}  // namespace tarvex::mdlPublic
