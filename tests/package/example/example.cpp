// A program that knows Tarvex only as installed: codes a PDU each way and makes
// the engine on the POSIX platform, with a store in an empty folder (argv[1]),
// so no device and no real settings are touched.
#include <tarvex/tarvex.h>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  tarvex::SMSSubmit submit;
  submit.PhoneNumber = "+31612345678";
  submit.MessageText = u"Hello";
  std::string entry = "3\r\n07919999999999F9040B912143658709F100002111228195058005C8329BFD06";
  tarvex::SMSDeliver deliver;
  deliver.Decode(entry);

  tarvex::PosixPlatform platform = tarvex::MakePosixPlatform(std::string(argv[1]) + "/machine.db",
                                                             std::string(argv[1]) + "/user.db");
  tarvex::Tarvex engine(std::move(platform.ports), *platform.clock, *platform.registry);
  int number = 0;
  try {
    engine.Device(tarvex::Tarvex::kSlotCount);
  } catch (const tarvex::Error& e) {
    number = e.number();
  }
  const bool ok = submit.Encode().hex == "0011000B911316325476F80000FF05C8329BFD06" &&
                  deliver.PhoneNumber() == "+12345678901" && deliver.MessageText() == u"Hello" &&
                  !engine.DeviceOpen(1) && number == tarvex::kSubscriptOutOfRange;
  std::cout << (ok ? "example: ok" : "example: WRONG") << "\n";
  return ok ? 0 : 1;
}
