// The component as a C++ host sees it: created by ProgID, called through the
// dual interface's vtable and by name through IDispatch, errors as
// DISP_E_EXCEPTION with the VB number, events through the connection point,
// a long message's parts against the simulated modem (TARVEX_TEST_COM names
// its COM port; the case skips without it).
#include <cstdlib>
#include <string>
#include <vector>

#include "collection_object.h"
#include "test_container.h"
#include "wine_test.h"

namespace tarvex::com::testing {
namespace {

// For every test of this program, the registration tests' too.
[[maybe_unused]] ::testing::Environment* const apartment =
    ::testing::AddGlobalTestEnvironment(new Apartment(false));

// A VARIANT owned by the test.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  explicit Var(const std::wstring& text) {
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  // An Integer, or with VT_I4 a Long.
  explicit Var(short value, VARTYPE type = VT_I2) {
    V_VT(&v) = type;
    V_I4(&v) = value;
  }
  Var(Var&& other) : v(other.v) { VariantInit(&other.v); }
  ~Var() { VariantClear(&v); }
  std::wstring Text() const {
    return V_VT(&v) == VT_BSTR && V_BSTR(&v) ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)))
                                             : L"";
  }
};

// What one Invoke gave.
struct Outcome {
  HRESULT hr = E_FAIL;
  SCODE scode = 0;      // EXCEPINFO's, for DISP_E_EXCEPTION
  std::wstring source;  // EXCEPINFO's
  std::wstring description;
  Var result;
};

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
    return DISPID_UNKNOWN;
  }
  return id;
}

// Calls `name` with `args` (left to right; each passes as VT_BYREF|
// VT_VARIANT, as a script passes its variables).
Outcome Call(IDispatch* object, const wchar_t* name, const std::vector<VARIANT*>& args = {},
             WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET) {
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
  Outcome out;
  out.hr = object->Invoke(IdOf(object, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                          &out.result.v, &exception, nullptr);
  out.scode = exception.scode;
  if (exception.bstrSource) out.source = exception.bstrSource;
  if (exception.bstrDescription) out.description = exception.bstrDescription;
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return out;
}

// The VB error number a failed call carries (0x800A0000 + n), or -1.
int ErrorNumber(HRESULT hr) {
  return (static_cast<unsigned long>(hr) & 0xFFFF0000u) == 0x800A0000u ? (hr & 0xFFFF) : -1;
}

class ComClient : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvex_ = Create<_Tarvex>(L"Tarvex4.Tarvex");
    deliver_ = Create<_SMSDeliver>(L"Tarvex4.SMSDeliver");
    ASSERT_NE(tarvex_, nullptr);
    ASSERT_NE(deliver_, nullptr);
  }
  void TearDown() override {
    if (tarvex_) tarvex_->Release();
    if (deliver_) deliver_->Release();
  }
  _Tarvex* tarvex_ = nullptr;
  _SMSDeliver* deliver_ = nullptr;
};

TEST_F(ComClient, NamesResolveAndDeviceNameReadsCyrillicForALong) {
  // Names resolve whatever their case, to the DISPIDs that hosts keep.
  EXPECT_EQ(IdOf(tarvex_, L"devicename"), 0x60030015);
  EXPECT_EQ(IdOf(deliver_, L"multipartsmscount"), 0x40030006);
  EXPECT_EQ(IdOf(tarvex_, L"NoSuchMember"), DISPID_UNKNOWN);
  // Cyrillic survives the registry both ways.
  const std::wstring name = L"\x041C\x043E\x0434\x0435\x043C 3";
  HKEY names = MachineKey(L"SOFTWARE\\DevName\\Device");
  WriteText(names, L"dvn3", name);
  Var id(3, VT_I4);  // a Long where an Integer is declared, converted where it lives
  const Outcome by_name = Call(tarvex_, L"DeviceName", {&id.v});
  RegDeleteKeyValueW(names, nullptr, L"dvn3");
  ASSERT_HRESULT_SUCCEEDED(by_name.hr);
  EXPECT_EQ(by_name.result.Text(), name);
  EXPECT_EQ(V_VT(&id.v), VT_I2);
}

TEST_F(ComClient, FailuresCarryTheVbNumberAndAnErrorInfo) {
  Var empty(L""), text(std::wstring(200, L'a')), nine(short{9}), one(short{1});
  Var bad_pdu(L"1\r\nZZ");
  struct Case {
    IDispatch* object;
    const wchar_t* member;
    std::vector<VARIANT*> args;
    int number;
  } cases[] = {
      {tarvex_, L"DeviceModel", {&nine.v}, 9},
      {tarvex_, L"SendMessage", {&one.v, &empty.v, &text.v}, 5},  // no phone number
      {deliver_, L"Decode", {&bad_pdu.v}, 13},
  };
  for (const Case& c : cases) {
    const Outcome out = Call(c.object, c.member, c.args);
    EXPECT_EQ(out.hr, DISP_E_EXCEPTION) << c.member;
    EXPECT_EQ(ErrorNumber(out.scode), c.number) << c.member;
    EXPECT_EQ(out.source, L"Tarvex4");
    EXPECT_FALSE(out.description.empty());
  }
  // What was written back before the failure stays: the text cut to one
  // message, the entry without its index.
  EXPECT_EQ(text.Text(), std::wstring(160, L'a'));
  EXPECT_EQ(bad_pdu.Text(), L"ZZ");
  // Through the vtable: the HRESULT itself, and the error object beside it.
  short slot = 9;
  BSTR model = nullptr;
  EXPECT_EQ(ErrorNumber(tarvex_->DeviceModel(&slot, &model)), 9);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_NE(std::wstring(description).find(L"9"), std::wstring::npos);
  SysFreeString(description);
}

// What the codec decodes is its own tests' matter, and the script mission
// reads the text properties; here, the properties whose type a typed host
// sees reach it with that type.
TEST_F(ComClient, DecodeFillsThePropertiesAndLeavesOnlyThePduInItsArgument) {
  const std::wstring pdu =
      L"07919999999999F9640B912143658709F100002111228195058009050003A70C0A9069";
  Var entry(L"1\r\n" + pdu);
  ASSERT_HRESULT_SUCCEEDED(Call(deliver_, L"Decode", {&entry.v}).hr);
  EXPECT_EQ(entry.Text(), pdu);
  const struct {
    const wchar_t* name;
    VARTYPE type;
    std::wstring text;
  } properties[] = {
      {L"MessageID", VT_BSTR, L"1"},
      {L"MultiPartSMS", VT_BOOL, L"True"},
      {L"MultiPartSMSCount", VT_I2, L"12"},
      {L"MultiPartSMSNumber", VT_I2, L"10"},
  };
  for (const auto& p : properties) {
    Outcome got = Call(deliver_, p.name, {}, DISPATCH_PROPERTYGET);
    EXPECT_EQ(V_VT(&got.result.v), p.type) << p.name;
    VariantChangeType(&got.result.v, &got.result.v, VARIANT_ALPHABOOL, VT_BSTR);
    EXPECT_EQ(got.result.Text(), p.text) << p.name;
  }
  SYSTEMTIME stamp = {2012, 11, 0, 22, 18, 59, 50, 0};
  DATE expected_time = 0;
  SystemTimeToVariantTime(&stamp, &expected_time);
  const Outcome time = Call(deliver_, L"MessageTime", {}, DISPATCH_PROPERTYGET);
  EXPECT_EQ(V_VT(&time.result.v), VT_DATE);
  EXPECT_NEAR(V_DATE(&time.result.v), expected_time, 1e-6);
}

// The default member and For Each are the VBScript mission's.
TEST(Collection, CountItemsByIndexAndKeyAddRemoveAndEnumeration) {
  _Collection* collection = MakeTextCollection({u"1\r\nAA", u"2\r\nBB"});
  EXPECT_EQ(Call(collection, L"Count").result.v.lVal, 2);
  // As JScript reads it.
  EXPECT_EQ(Call(collection, L"Count", {}, DISPATCH_PROPERTYGET).result.v.lVal, 2);
  Var one(short{1}), none(short{0}), three(short{3}), extra(L"3\r\nCC"), key(L"k");
  EXPECT_EQ(ErrorNumber(Call(collection, L"Item", {&none.v}).scode), 9);
  EXPECT_EQ(ErrorNumber(Call(collection, L"Item", {&three.v}).scode), 9);
  ASSERT_HRESULT_SUCCEEDED(Call(collection, L"Add", {&extra.v, &key.v}).hr);
  EXPECT_EQ(Call(collection, L"Item", {&key.v}).result.Text(), L"3\r\nCC");
  ASSERT_HRESULT_SUCCEEDED(Call(collection, L"Remove", {&one.v}).hr);
  EXPECT_EQ(Call(collection, L"Count").result.v.lVal, 2);
  EXPECT_EQ(Call(collection, L"Item", {&one.v}).result.Text(), L"2\r\nBB");
  collection->Release();
}
// What a careless host passes (pointers to nowhere included) comes back as an
// error, never as a crash.
TEST_F(ComClient, InvokeAnswersBadArgumentsWithAnError) {
  const auto ref = [](VARTYPE type, void* to) {
    VARIANT v;
    V_VT(&v) = VT_BYREF | type;
    V_BYREF(&v) = to;
    return v;
  };
  VARIANT none = ref(VT_VARIANT, nullptr), text = ref(VT_BSTR, nullptr), deep = ref(VT_I2, nullptr);
  Var words(L"one");
  VARIANT two[2] = {words.v, words.v};
  DISPID put = DISPID_PROPERTYPUT;
  const struct {
    IDispatch* object;
    DISPID member;
    WORD flags;
    DISPPARAMS params;
    HRESULT expected;
  } cases[] = {
      {tarvex_, 0x60030015, DISPATCH_METHOD, {&none, nullptr, 1, 0}, E_POINTER},
      {deliver_, 0x40030000, DISPATCH_PROPERTYPUT, {&text, &put, 1, 1}, E_POINTER},
      {tarvex_, 0x60030015, DISPATCH_METHOD, {&deep, nullptr, 1, 1}, E_INVALIDARG},
      {deliver_, 0x60030000, DISPATCH_METHOD, {nullptr, nullptr, 1, 0}, E_INVALIDARG},
      {tarvex_, 0x60030015, DISPATCH_METHOD, {&words.v, nullptr, 1, 0}, DISP_E_TYPEMISMATCH},
      {tarvex_, 0x60030015, DISPATCH_METHOD, {two, nullptr, 2, 0}, DISP_E_BADPARAMCOUNT},
  };
  for (const auto& c : cases) {
    DISPPARAMS params = c.params;
    Var result;
    EXPECT_EQ(
        c.object->Invoke(c.member, IID_NULL, 0, c.flags, &params, &result.v, nullptr, nullptr),
        c.expected)
        << std::hex << c.member;
  }
  LPOLESTR no_name[1] = {nullptr};
  DISPID id = 0;
  EXPECT_EQ(tarvex_->GetIDsOfNames(IID_NULL, no_name, 0, 0, &id), E_INVALIDARG);
}

TEST(Server, CanUnloadOnlyWithoutLiveObjectsOrLocks) {
  const auto path =
      ReadText(HKEY_CLASSES_ROOT, L"CLSID\\{23D972A8-7EDA-4077-9F64-3931F8B2ABFF}\\InprocServer32");
  HMODULE module = LoadLibraryW(path.value_or(L"").c_str());
  ASSERT_NE(module, nullptr);
  auto* get = Export<HRESULT STDAPICALLTYPE(REFCLSID, REFIID, void**)>(module, "DllGetClassObject");
  auto* can_unload = Export<HRESULT STDAPICALLTYPE()>(module, "DllCanUnloadNow");
  ASSERT_TRUE(get && can_unload);
  EXPECT_EQ(can_unload(), S_OK);
  {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(get(__uuidof(::TRegistry), IID_PPV_ARGS(&factory)), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_HRESULT_SUCCEEDED(get(__uuidof(::SMSDeliver), IID_PPV_ARGS(&factory)));
    EXPECT_EQ(can_unload(), S_FALSE);
    ComPtr<IUnknown> object;
    ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)));
    factory.Reset();
    EXPECT_EQ(can_unload(), S_FALSE);
  }
  EXPECT_EQ(can_unload(), S_OK);
  FreeLibrary(module);
}

// The event comes before the port is used, so even a closed slot raises it;
// a long message raises it once per part.  The listing of what was sent is
// the VBScript mission's.
TEST_F(ComClient, ConnectionPointDeliversSendProgressByReferenceForEachPart) {
  const char* port = std::getenv("TARVEX_TEST_COM");
  if (port == nullptr) GTEST_SKIP() << "no simulated modem (TARVEX_TEST_COM)";
  ComPtr<IProvideClassInfo2> class_info;
  ASSERT_HRESULT_SUCCEEDED(tarvex_->QueryInterface(IID_PPV_ARGS(&class_info)));
  GUID source = GUID_NULL;
  class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source);
  EXPECT_TRUE(IsEqualGUID(source, __uuidof(__Tarvex)));

  ComPtr<IConnectionPointContainer> points;
  ComPtr<IConnectionPoint> point;
  ASSERT_HRESULT_SUCCEEDED(tarvex_->QueryInterface(IID_PPV_ARGS(&points)));
  EXPECT_EQ(points->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
  ASSERT_HRESULT_SUCCEEDED(points->FindConnectionPoint(__uuidof(__Tarvex), &point));
  TestContainer sink;
  DWORD cookie = 0;
  ASSERT_HRESULT_SUCCEEDED(point->Advise(static_cast<IDispatch*>(&sink), &cookie));
  EXPECT_EQ(cookie, 1u);  // what the connections list shows: the control's QuickActivate test
  Var closed_slot(short{2}), number(L"+15550100"), hello(L"Hello");
  Call(tarvex_, L"SendMessage", {&closed_slot.v, &number.v, &hello.v});

  const HKEY route = MachineKey(L"SOFTWARE\\Clients\\Route");
  WriteText(route, L"dvp1", std::to_wstring(std::atoi(port)));
  WriteText(route, L"dvb1", L"115200");
  short slot = 1;
  VARIANT_BOOL opened = VARIANT_FALSE, closed = VARIANT_FALSE;
  EXPECT_HRESULT_SUCCEEDED(tarvex_->DeviceOpen(&slot, &opened));
  EXPECT_EQ(opened, VARIANT_TRUE);
  Var slot_arg(short{1}), text(std::wstring(153, L'x') + std::wstring(153, L'y') + L"z");
  const Outcome sent = Call(tarvex_, L"SendLongMessage", {&slot_arg.v, &number.v, &text.v});
  tarvex_->DeviceClose(&slot, &closed);
  RegDeleteKeyValueW(route, nullptr, L"dvp1");
  RegDeleteKeyValueW(route, nullptr, L"dvb1");
  EXPECT_EQ(sent.result.Text(), L"OK") << sent.description;
  EXPECT_EQ(closed, VARIANT_TRUE);
  using Progress = TestContainer::Progress;
  const std::vector<Progress> expected = {{2, 1, 1, L"Hello"},
                                          {1, 3, 1, std::wstring(153, L'x')},
                                          {1, 3, 2, std::wstring(153, L'y')},
                                          {1, 3, 3, L"z"}};
  EXPECT_TRUE(sink.events == expected);

  EXPECT_EQ(point->Unadvise(cookie + 7), CONNECT_E_NOCONNECTION);
  EXPECT_HRESULT_SUCCEEDED(point->Unadvise(cookie));
  EXPECT_EQ(sink.refs(), 1u);
}

}  // namespace
}  // namespace tarvex::com::testing
