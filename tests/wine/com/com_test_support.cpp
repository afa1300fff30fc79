#include "com_test_support.h"

#include <cstdlib>
#include <string>

namespace tarvex::com::testing {
namespace {

class Apartment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  }
  void TearDown() override { CoUninitialize(); }
};

[[maybe_unused]] ::testing::Environment* const apartment =
    ::testing::AddGlobalTestEnvironment(new Apartment);

constexpr wchar_t kRoute[] = L"SOFTWARE\\Clients\\Route";

}  // namespace

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
    return DISPID_UNKNOWN;
  }
  return id;
}

void Call(IDispatch* object, const wchar_t* name, const std::vector<VARIANT*>& args, Outcome* out,
          WORD flags) {
  std::vector<VARIANTARG> reversed(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    VARIANTARG& arg = reversed[args.size() - 1 - i];
    V_VT(&arg) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&arg) = args[i];
  }
  DISPID put = DISPID_PROPERTYPUT;
  const bool is_put = flags & DISPATCH_PROPERTYPUT;
  DISPPARAMS params = {reversed.data(), is_put ? &put : nullptr, static_cast<UINT>(reversed.size()),
                       is_put ? 1u : 0u};
  EXCEPINFO exception = {};
  UINT arg_error = 0;
  out->hr = object->Invoke(IdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                           &out->result.v, &exception, &arg_error);
  out->scode = exception.scode;
  if (exception.bstrSource) out->source = exception.bstrSource;
  if (exception.bstrDescription) out->description = exception.bstrDescription;
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
}

int ErrorNumber(HRESULT hr) {
  return (static_cast<unsigned long>(hr) & 0xFFFF0000u) == 0x800A0000u ? (hr & 0xFFFF) : -1;
}

short ModemPort() {
  const char* port = std::getenv("TARVEX_TEST_COM");
  return port ? static_cast<short>(std::atoi(port)) : 0;
}

ModemSlot::ModemSlot() {
  const std::wstring port = std::to_wstring(ModemPort());
  const std::wstring baud = L"115200";
  RegSetKeyValueW(MachineKey(kRoute), nullptr, L"dvp1", REG_SZ, port.c_str(),
                  static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)));
  RegSetKeyValueW(MachineKey(kRoute), nullptr, L"dvb1", REG_SZ, baud.c_str(),
                  static_cast<DWORD>((baud.size() + 1) * sizeof(wchar_t)));
}

ModemSlot::~ModemSlot() {
  RegDeleteKeyValueW(MachineKey(kRoute), nullptr, L"dvp1");
  RegDeleteKeyValueW(MachineKey(kRoute), nullptr, L"dvb1");
}

}  // namespace tarvex::com::testing
