// MakePosixPlatform: the public construction of the POSIX platform out of its
// implementations in posix_platform.h.
#include <utility>

#include "platform/posix/posix_platform.h"
#include "tarvex/posix_platform.h"

namespace tarvex {

namespace {

PosixPlatform Make(std::unique_ptr<posix::SqliteRegistry> store) {
  PosixPlatform platform;
  for (auto& port : platform.ports) port = std::make_unique<posix::TermiosPort>(*store);
  platform.registry = std::move(store);
  platform.clock = std::make_unique<posix::SteadyClock>();
  return platform;
}

}  // namespace

PosixPlatform MakePosixPlatform() { return Make(posix::SqliteRegistry::OpenDefault()); }

PosixPlatform MakePosixPlatform(const std::string& machine_db, const std::string& user_db) {
  return Make(std::make_unique<posix::SqliteRegistry>(machine_db, user_db));
}

}  // namespace tarvex
