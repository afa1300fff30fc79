// The engine's platform on Linux and other POSIX systems, made in one call:
// the machine's settings store (SQLite), the steady clock and the five termios
// ports of the modem slots, ready to hand to the Tarvex constructor.
//
//   tarvex::PosixPlatform platform = tarvex::MakePosixPlatform();
//   tarvex::Tarvex engine(std::move(platform.ports), *platform.clock, *platform.registry);
//
// Ownership: the caller owns everything made here; the ports use the registry
// (to resolve port numbers through the port map) and move into the engine, so
// the registry and the clock must outlive the engine.  Making the platform
// opens no device and no database: the store is opened at its first use, a
// port when its slot is opened.  Threads: as the engine, one host thread.
#pragma once

#include <memory>
#include <string>

#include "tarvex/clock.h"
#include "tarvex/engine.h"
#include "tarvex/registry_backend.h"

namespace tarvex {

struct PosixPlatform {
  // HKEY_LOCAL_MACHINE holds the slots' settings and the port map,
  // HKEY_CURRENT_USER the per-user values.
  std::unique_ptr<RegistryBackend> registry;
  std::unique_ptr<Clock> clock;
  Tarvex::Ports ports;
};

// The stores the tool uses: /var/lib/tarvex/registry.db for the machine and
// ${XDG_STATE_HOME:-~/.local/state}/tarvex/registry.db for the user, both in
// $TARVEX_STATE_DIR when it is set.
PosixPlatform MakePosixPlatform();
// The stores in these two database files (created at their first write).
PosixPlatform MakePosixPlatform(const std::string& machine_db, const std::string& user_db);

}  // namespace tarvex
