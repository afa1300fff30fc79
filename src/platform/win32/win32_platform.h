// The Win32 implementations of the platform seams: the real registry through
// its wide entry points, the serial port over \\.\COMn, GetTickCount/Sleep as
// the clock, one PeekMessage pass as the message pump.  The per-user settings
// store is RegistryUserSettings over the registry, as on Linux.
//
// Threads: each object is used by the host's thread (the apartment that made
// the engine).  Failures: the registry reports Windows status codes and never
// throws; the port raises tarvex::Error with the serial control's numbers; the
// clock, the pump and the text conversions cannot fail.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port_core.h"
#include "tarvex/clock.h"
#include "tarvex/message_pump.h"
#include "tarvex/registry_backend.h"

namespace tarvex::win32 {

// The registry.  Key paths, value names and REG_SZ data cross the seam as
// UTF-8 and the registry as UTF-16 (the W entry points), so a slot name in
// Cyrillic or Greek survives; the keys, names, types and bytes a reader sees
// are those the ANSI calls would have written for ASCII text.  REG_SZ data is
// converted both ways (the size counts UTF-8 bytes on the seam's side);
// REG_BINARY and every other type pass as raw bytes.  Keys open with
// MAXIMUM_ALLOWED, as RegOpenKeyA does, so a user without write access still
// reads HKEY_LOCAL_MACHINE.  Everything but the per-user tree is opened in
// the 32-bit registry view, in both sizes of the component, so the slots one
// host configures are the slots every other host uses.  Holds no state:
// handles are the registry's own.
class Win32Registry : public RegistryBackend {
 public:
  RegStatus OpenKey(RegHandle parent, const std::string& path, RegHandle* result) override;
  RegStatus CreateKey(RegHandle parent, const std::string& path, RegHandle* result) override;
  RegStatus QueryValue(RegHandle key, const std::string& name, uint32_t* type, uint8_t* data,
                       uint32_t* size) override;
  RegStatus SetValue(RegHandle key, const std::string& name, uint32_t type, const uint8_t* data,
                     uint32_t size) override;
  RegStatus DeleteValue(RegHandle key, const std::string& name) override;
  RegStatus CloseKey(RegHandle key) override;
  RegStatus EnumValue(RegHandle key, uint32_t index, std::string* name, uint32_t* type,
                      std::vector<uint8_t>* data) override;
};

// \\.\COMn through a comm handle: line settings through the DCB, handshaking
// 0-3, non-blocking reads of everything waiting, writes of every byte value.
// A wait watches the port and the thread's message queue together, so a
// waiting transaction neither spins nor freezes the host's window.  The open
// is exclusive across processes (the system's own exclusion plus a named
// mutex per port, since Wine lets a second CreateFile of a COM device through).
// A device that goes away closes the port and raises 8012.
class Win32SerialPort : public SerialPortCore {
 public:
  // The classic control's port numbers end at 255.
  Win32SerialPort() : SerialPortCore(255) {}
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  bool PortOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  void OpenDevice() override;
  void CloseDevice() override;
  bool Configure(const LineSettings& line, int32_t handshaking, bool rts) override;
  bool Drain(std::string& pending) override;
  void Write(std::string_view data) override;
  bool Wait(uint32_t timeout_ms) override;

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE claim_ = nullptr;  // the port's named mutex, held while open
};

class Win32Clock : public Clock {
 public:
  uint32_t TickCount() override;
  void Sleep(uint32_t ms) override;
};

// One pass of the thread's pending window messages: those that arrived before
// the pass began (a handler that keeps posting cannot hold the pass forever).
// A WM_QUIT met on the way is posted again and ends the pass, so the host's
// own loop still sees it.
class Win32MessagePump : public MessagePump {
 public:
  void DoEvents() override;
};

// UTF-8 <-> UTF-16 for the Windows edge (never throws; bad input becomes U+FFFD).
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace tarvex::win32
