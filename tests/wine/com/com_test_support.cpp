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

HRESULT ProgressSink::QueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, __uuidof(__Tarvex))) {
    *out = this;
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT ProgressSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                             EXCEPINFO*, UINT*) {
  if (id != 1 || params->cArgs != 4) return DISP_E_MEMBERNOTFOUND;
  VARIANTARG* a = params->rgvarg;  // right to left
  Event e{};
  e.all_by_reference = V_VT(&a[3]) == (VT_BYREF | VT_I2) && V_VT(&a[2]) == (VT_BYREF | VT_I2) &&
                       V_VT(&a[1]) == (VT_BYREF | VT_I2) && V_VT(&a[0]) == (VT_BYREF | VT_BSTR);
  if (e.all_by_reference) {
    e = {*V_I2REF(&a[3]), *V_I2REF(&a[2]), *V_I2REF(&a[1]),
         std::wstring(*V_BSTRREF(&a[0]), SysStringLen(*V_BSTRREF(&a[0]))), true};
  }
  events.push_back(e);
  return S_OK;
}

short ModemPort() {
  const char* port = std::getenv("TARVEX_TEST_COM");
  return port ? static_cast<short>(std::atoi(port)) : 0;
}

ModemSlot::ModemSlot() {
  WriteText(MachineKey(kRoute), L"dvp1", std::to_wstring(ModemPort()));
  WriteText(MachineKey(kRoute), L"dvb1", L"115200");
}

ModemSlot::~ModemSlot() {
  RegDeleteKeyValueW(MachineKey(kRoute), nullptr, L"dvp1");
  RegDeleteKeyValueW(MachineKey(kRoute), nullptr, L"dvb1");
}

}  // namespace tarvex::com::testing
