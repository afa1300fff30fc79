// Creation of the component's public objects, for the class factories and
// for tests that link the component's objects directly.  Each returns the
// requested interface with one reference, or an HRESULT failure.
#pragma once

#include <windows.h>

namespace tarvex::com {

HRESULT CreateTarvex(REFIID iid, void** out);
HRESULT CreateSMSDeliver(REFIID iid, void** out);

}  // namespace tarvex::com
