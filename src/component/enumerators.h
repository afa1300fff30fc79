// The standard enumerators the component hands out: IEnumVARIANT over a
// collection's items (For Each), IEnumConnections and IEnumConnectionPoints.
// Each enumerates a snapshot taken when it was made; clones share it.
//
// One apartment thread, like every object of the component.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <memory>
#include <vector>

namespace tarvex::com {

IEnumVARIANT* MakeVariantEnumerator(std::vector<VARIANT> items);
IEnumConnections* MakeConnectionEnumerator(const std::vector<CONNECTDATA>& items);
IEnumConnectionPoints* MakeConnectionPointEnumerator(const std::vector<IConnectionPoint*>& items);

}  // namespace tarvex::com
