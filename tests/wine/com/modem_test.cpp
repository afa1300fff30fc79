// Through COM against the simulated modem: a long message raises one
// SendProgress per part, and what the modem stores comes back as a
// collection that For Each walks.  Skipped without TARVEX_TEST_COM.
#include <string>
#include <vector>

#include "com_test_support.h"

namespace tarvex::com::testing {
namespace {

class PartCounter : public IDispatch {
 public:
  std::vector<std::pair<short, short>> parts;  // (count, number)
  std::vector<std::wstring> texts;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    parts.emplace_back(*V_I2REF(&p->rgvarg[2]), *V_I2REF(&p->rgvarg[1]));
    texts.emplace_back(*V_BSTRREF(&p->rgvarg[0]));
    return S_OK;
  }
};

TEST(Modem, LongMessagePartsAndTheListingThroughCom) {
  if (ModemPort() == 0) GTEST_SKIP() << "no simulated modem (TARVEX_TEST_COM)";
  ModemSlot slot_settings;
  _Tarvex* tarvex = Create<_Tarvex>(L"Tarvex4.Tarvex");
  ASSERT_NE(tarvex, nullptr);
  IConnectionPointContainer* container = nullptr;
  tarvex->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  IConnectionPoint* point = nullptr;
  ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(__uuidof(__Tarvex), &point));
  PartCounter sink;
  DWORD cookie = 0;
  ASSERT_HRESULT_SUCCEEDED(point->Advise(&sink, &cookie));

  short slot = 1;
  VARIANT_BOOL opened = VARIANT_FALSE;
  ASSERT_HRESULT_SUCCEEDED(tarvex->DeviceOpen(&slot, &opened));
  ASSERT_EQ(opened, VARIANT_TRUE);
  const std::wstring text = std::wstring(153, L'x') + std::wstring(153, L'y') + L"z";
  BSTR number = SysAllocString(L"+15550100");
  BSTR message = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  BSTR result = nullptr;
  ASSERT_HRESULT_SUCCEEDED(tarvex->SendLongMessage(&slot, &number, &message, &result));
  EXPECT_EQ(std::wstring(result), L"OK");
  EXPECT_EQ(sink.parts, (std::vector<std::pair<short, short>>{{3, 1}, {3, 2}, {3, 3}}));
  EXPECT_EQ(sink.texts.back(), L"z");

  // The simulator's demo inbox (five) and the three parts just sent.
  // By name, with the arguments a script passes.
  Var slot_arg(short{1}), inbox_arg(short{ibxNewMessage});
  Outcome listing;
  Call(tarvex, L"ReadMessage", {&slot_arg.v, &inbox_arg.v}, &listing);
  ASSERT_HRESULT_SUCCEEDED(listing.hr) << listing.description;
  ASSERT_EQ(V_VT(&listing.result.v), VT_DISPATCH);
  _Collection* entries = nullptr;
  ASSERT_HRESULT_SUCCEEDED(
      V_DISPATCH(&listing.result.v)
          ->QueryInterface(__uuidof(_Collection), reinterpret_cast<void**>(&entries)));
  LONG count = 0;
  entries->Count(&count);
  EXPECT_EQ(count, 8);
  _SMSDeliver* deliver = Create<_SMSDeliver>(L"Tarvex4.SMSDeliver");
  Var position(LONG{count}), last;
  ASSERT_HRESULT_SUCCEEDED(entries->Item(&position.v, &last.v));
  BSTR entry = V_BSTR(&last.v);
  ASSERT_HRESULT_SUCCEEDED(deliver->Decode(&entry));
  BSTR decoded = nullptr;
  deliver->get_MessageText(&decoded);
  EXPECT_EQ(std::wstring(decoded), L"z");

  VARIANT_BOOL closed = VARIANT_FALSE;
  tarvex->DeviceClose(&slot, &closed);
  EXPECT_EQ(closed, VARIANT_TRUE);
  for (BSTR b : {number, message, result, decoded}) SysFreeString(b);
  deliver->Release();
  entries->Release();
  point->Unadvise(cookie);
  point->Release();
  container->Release();
  tarvex->Release();
}

}  // namespace
}  // namespace tarvex::com::testing
