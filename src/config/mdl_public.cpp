// The per-slot settings lookups: one TRegistry read each, nothing cached, so a
// change written by the dialog or another process shows at the next call.
#include "tarvex/mdl_public.h"

#include "tarvex/t_registry.h"

namespace tarvex::mdlPublic {
namespace {

std::string Lookup(RegistryBackend& registry, const char* path, const char* prefix,
                   int16_t ModemID) {
  TRegistry reg(registry);
  return reg.GetString(kHkeyLocalMachine, path, prefix + std::to_string(ModemID));
}

}  // namespace

std::string GetPortSetting(RegistryBackend& registry, int16_t ModemID) {
  return Lookup(registry, kRouteKey, "dvp", ModemID);
}

std::string GetBaudRateSetting(RegistryBackend& registry, int16_t ModemID) {
  return Lookup(registry, kRouteKey, "dvb", ModemID);
}

std::string GetDeviceNameSetting(RegistryBackend& registry, int16_t ModemID) {
  return Lookup(registry, kDeviceNameKey, "dvn", ModemID);
}

}  // namespace tarvex::mdlPublic
