// ErrorOf: the number of the tarvex::Error a call raises, 0 when it raises
// nothing, so a table can hold the expected error beside the expected result.
#pragma once

#include "tarvex/error.h"

namespace tarvex::testing {

template <typename Call>
int32_t ErrorOf(Call&& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

}  // namespace tarvex::testing
