// Small pieces every COM object of the component shares: the object count
// behind DllCanUnloadNow, text crossing the edge (BSTR is UTF-16; the core
// takes UTF-8 for everything but message texts), and errors leaving as
// HRESULT 0x800A0000 + the component's error number with IErrorInfo, so a
// VB-style host sees Err.Number 5, 9, 13 or the port's 8002, 8005, 8012.
//
// Objects live in the single-threaded apartment of the thread that made them;
// the counters are atomic because DllCanUnloadNow may be asked from anywhere.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tarvex::com {

// Live objects and LockServer locks of the whole module.
std::atomic<long>& ObjectCount();
std::atomic<long>& LockCount();

// Counts an object for DllCanUnloadNow for as long as it lives.
class CountedObject {
 public:
  CountedObject() { ++ObjectCount(); }
  ~CountedObject() { --ObjectCount(); }
  CountedObject(const CountedObject&) = delete;
  CountedObject& operator=(const CountedObject&) = delete;
};

// A BSTR owned for one scope.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }
  BSTR* out() {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }
  BSTR release() { return std::exchange(value_, nullptr); }

 private:
  BSTR value_ = nullptr;
};

// BSTR <-> core text.  A null BSTR is the empty text, as automation has it;
// the length is the BSTR's own, so embedded NULs are kept.
std::u16string ToU16(BSTR text);
std::string ToUtf8(BSTR text);
// New BSTRs; throw std::bad_alloc when the system has no memory.
BSTR MakeBstr(std::u16string_view text);
BSTR MakeBstr(std::string_view utf8);
// Replaces *target (freeing the old string) unless it already holds `text`.
void AssignBstr(BSTR* target, std::u16string_view text);

inline VARIANT_BOOL ToVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// HRESULT 0x800A0000 + number, with an IErrorInfo naming the source "Tarvex4".
HRESULT ReportError(REFIID iid, int32_t number, std::string_view description);

// Runs body; an exception becomes the HRESULT a host expects (tarvex::Error:
// its number; out of memory: 7; anything else: 0x8000FFFF with its message).
template <typename Body>
HRESULT Guarded(REFIID iid, Body&& body) noexcept;

}  // namespace tarvex::com

#include "com_util_inl.h"
