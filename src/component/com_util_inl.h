// The template half of com_util.h.
#pragma once

#include <exception>
#include <new>

#include "tarvex/error.h"

namespace tarvex::com {

HRESULT ReportUnexpected(REFIID iid, std::string_view description);

template <typename Body>
HRESULT Guarded(REFIID iid, Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (const Error& e) {
    return ReportError(iid, e.number(), e.what());
  } catch (const std::bad_alloc&) {
    return ReportError(iid, 7, "Out of memory");
  } catch (const std::exception& e) {
    return ReportUnexpected(iid, e.what());
  } catch (...) {
    return ReportUnexpected(iid, "Unexpected failure");
  }
}

}  // namespace tarvex::com
