// The collection object that ReadMessage returns: items at positions 1 to
// Count, optionally with a text key each, as the platform's own Collection
// keeps them (Item is the default member; Add, Remove, Count, _NewEnum for
// For Each).  The platform's collection library cannot be imported into the
// type library, so the component carries this one.
//
// Belongs to the host once returned; one apartment thread.
#pragma once

#include <string>
#include <vector>

#include "tarvex4_idl.h"

namespace tarvex::com {

// A new collection holding the given texts, with one reference for the caller.
_Collection* MakeTextCollection(const std::vector<std::u16string>& items);

}  // namespace tarvex::com
