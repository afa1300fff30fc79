// The component as a C++ host sees it: created by ProgID, called through the
// dual interface's vtable and by name through IDispatch, errors as
// DISP_E_EXCEPTION with the VB number, events through the connection point;
// and, against the simulated modem, a long message's parts and the listing.
#include <cmath>
#include <string>
#include <vector>

#include "collection_object.h"
#include "com_test_support.h"

namespace tarvex::com::testing {
namespace {

// The connection point of a Tarvex object with `sink` advised to it; the
// caller unadvises `*cookie` and releases the point.
IConnectionPoint* Advise(_Tarvex* tarvex, IDispatch* sink, DWORD* cookie) {
  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  tarvex->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
  EXPECT_HRESULT_SUCCEEDED(container->FindConnectionPoint(__uuidof(__Tarvex), &point));
  container->Release();
  EXPECT_HRESULT_SUCCEEDED(point->Advise(sink, cookie));
  return point;
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

TEST_F(ComClient, EveryNameResolvesToItsDispid) {
  const struct {
    const wchar_t* name;
    DISPID id;
  } tarvex[] = {{L"Setting", 0x60030000},
                {L"DeviceOpen", 0x60030001},
                {L"DeviceClose", 0x60030002},
                {L"SendCommand", 0x60030004},
                {L"GetMessageStorageID", 0x60030005},
                {L"SetMessageStorageID", 0x60030006},
                {L"DeviceManufacture", 0x60030007},
                {L"DeviceModel", 0x60030008},
                {L"DeviceIMEI", 0x60030009},
                {L"ReadMessage", 0x6003000A},
                {L"SendMessage", 0x6003000B},
                {L"SendLongMessage", 0x6003000C},
                {L"RemoveMessage", 0x6003000F},
                {L"devicename", 0x60030015}},
    deliver[] = {{L"MessageID", 0x40030000},
                 {L"PhoneNumber", 0x40030001},
                 {L"MessageTime", 0x40030002},
                 {L"MessageText", 0x40030003},
                 {L"MultiPartSMS", 0x40030004},
                 {L"MultiPartSMSRef", 0x40030005},
                 {L"MultiPartSMSCount", 0x40030006},
                 {L"MultiPartSMSNumber", 0x40030007},
                 {L"Decode", 0x60030000}};
  for (const auto& m : tarvex) EXPECT_EQ(IdOf(tarvex_, m.name), m.id) << m.name;
  for (const auto& m : deliver) EXPECT_EQ(IdOf(deliver_, m.name), m.id) << m.name;
  EXPECT_EQ(IdOf(tarvex_, L"NoSuchMember"), DISPID_UNKNOWN);
}

TEST_F(ComClient, DeviceNameReadsTheSameThroughTheVtableAndByName) {
  // Cyrillic survives the registry both ways.
  const std::wstring name = L"\x041C\x043E\x0434\x0435\x043C 3";
  HKEY names = MachineKey(L"SOFTWARE\\DevName\\Device");
  WriteText(names, L"dvn3", name);
  short slot = 3;
  BSTR by_vtable = nullptr;
  ASSERT_HRESULT_SUCCEEDED(tarvex_->DeviceName(&slot, &by_vtable));
  Var id(LONG{3});  // a Long where an Integer is declared, converted where it lives
  Outcome by_name;
  Call(tarvex_, L"DeviceName", {&id.v}, &by_name);
  RegDeleteKeyValueW(names, nullptr, L"dvn3");
  EXPECT_EQ(std::wstring(by_vtable), name);
  SysFreeString(by_vtable);
  ASSERT_HRESULT_SUCCEEDED(by_name.hr);
  EXPECT_EQ(by_name.result.Text(), name);
  EXPECT_EQ(V_VT(&id.v), VT_I2);
}

TEST_F(ComClient, FailuresCarryTheVbNumberAndAnErrorInfo) {
  Var empty(L"");
  Var text(std::wstring(200, L'a'));
  Var nine(short{9});
  Var one(short{1});
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
    Outcome out;
    Call(c.object, c.member, c.args, &out);
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
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_NE(std::wstring(description).find(L"9"), std::wstring::npos);
  SysFreeString(description);
  info->Release();
}

TEST_F(ComClient, DecodeFillsThePropertiesAndLeavesOnlyThePduInItsArgument) {
  const struct {
    const wchar_t* entry;
    const wchar_t* id;
    const wchar_t* phone;
    const wchar_t* text;
    bool multi;
    const wchar_t* ref;
    short count, number;
  } cases[] = {
      {L"3\r\n07919999999999F9040B912143658709F100002111228195058005C8329BFD06", L"3",
       L"+12345678901", L"Hello", false, L"", 0, 0},
      {L"1\r\n07919999999999F9640B912143658709F100002111228195058009050003A70C0A9069", L"1",
       L"+12345678901", L"Hi", true, L"0003A7", 12, 10},
  };
  SYSTEMTIME stamp = {2012, 11, 0, 22, 18, 59, 50, 0};
  DATE expected_time = 0;
  SystemTimeToVariantTime(&stamp, &expected_time);
  for (const auto& c : cases) {
    Var entry(c.entry);
    Outcome decode;
    Call(deliver_, L"Decode", {&entry.v}, &decode);
    ASSERT_HRESULT_SUCCEEDED(decode.hr);
    EXPECT_EQ(entry.Text(), std::wstring(c.entry).substr(std::wstring(c.entry).find(L'\n') + 1));
    const struct {
      const wchar_t* name;
      VARTYPE type;
      std::wstring text;
    } properties[] = {
        {L"MessageID", VT_BSTR, c.id},
        {L"PhoneNumber", VT_BSTR, c.phone},
        {L"MessageText", VT_BSTR, c.text},
        {L"MultiPartSMS", VT_BOOL, c.multi ? L"True" : L"False"},
        {L"MultiPartSMSRef", VT_BSTR, c.ref},
        {L"MultiPartSMSCount", VT_I2, std::to_wstring(c.count)},
        {L"MultiPartSMSNumber", VT_I2, std::to_wstring(c.number)},
    };
    for (const auto& p : properties) {
      Outcome got;
      Call(deliver_, p.name, {}, &got, DISPATCH_PROPERTYGET);
      EXPECT_EQ(V_VT(&got.result.v), p.type) << p.name;
      VariantChangeType(&got.result.v, &got.result.v, VARIANT_ALPHABOOL, VT_BSTR);
      EXPECT_EQ(got.result.Text(), p.text) << p.name;
    }
    Outcome time;
    Call(deliver_, L"MessageTime", {}, &time, DISPATCH_PROPERTYGET);
    EXPECT_EQ(V_VT(&time.result.v), VT_DATE);
    EXPECT_NEAR(V_DATE(&time.result.v), expected_time, 1e-6);
  }
  // A property write by value, read back through the vtable.
  Var changed(L"42");
  Outcome put;
  Call(deliver_, L"MessageID", {&changed.v}, &put, DISPATCH_PROPERTYPUT);
  ASSERT_HRESULT_SUCCEEDED(put.hr);
  BSTR id = nullptr;
  deliver_->get_MessageID(&id);
  EXPECT_EQ(std::wstring(id), L"42");
  SysFreeString(id);
}

TEST_F(ComClient, ConnectionPointDeliversSendProgressByReference) {
  IProvideClassInfo2* class_info = nullptr;
  ASSERT_HRESULT_SUCCEEDED(
      tarvex_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&class_info)));
  GUID source = GUID_NULL;
  class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source);
  EXPECT_TRUE(IsEqualGUID(source, __uuidof(__Tarvex)));
  class_info->Release();

  ProgressSink sink;
  DWORD cookie = 0;
  IConnectionPoint* point = Advise(tarvex_, &sink, &cookie);
  EXPECT_EQ(cookie, 1u);
  IEnumConnections* connections = nullptr;
  ASSERT_HRESULT_SUCCEEDED(point->EnumConnections(&connections));
  CONNECTDATA data[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(2, data, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(data[0].dwCookie, cookie);
  data[0].pUnk->Release();
  connections->Release();

  // The event comes before the port is used, so even a closed slot raises it.
  Var slot(short{2}), number(L"+31612345678"), text(L"Hello");
  Outcome sent;
  Call(tarvex_, L"SendMessage", {&slot.v, &number.v, &text.v}, &sent);
  ASSERT_EQ(sink.events.size(), 1u);
  EXPECT_TRUE(sink.events[0].all_by_reference);
  EXPECT_EQ(sink.events[0].modem, 2);
  EXPECT_EQ(sink.events[0].count, 1);
  EXPECT_EQ(sink.events[0].part, 1);
  EXPECT_EQ(sink.events[0].text, L"Hello");

  EXPECT_EQ(point->Unadvise(cookie + 7), CONNECT_E_NOCONNECTION);
  EXPECT_HRESULT_SUCCEEDED(point->Unadvise(cookie));
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(sink.refs(), 1u);
  point->Release();
}

TEST(Collection, ItemsCountEnumerationAndErrors) {
  _Collection* collection = MakeTextCollection({u"1\r\nAA", u"2\r\nBB"});
  Outcome count, read, zero, beyond;
  Call(collection, L"Count", {}, &count);
  Call(collection, L"Count", {}, &read, DISPATCH_PROPERTYGET);  // as JScript reads it
  EXPECT_EQ(V_I4(&count.result.v), 2);
  EXPECT_EQ(V_I4(&read.result.v), 2);
  Var one(short{1}), none(short{0}), three(short{3});
  // The default member, as col(1) calls it.
  VARIANTARG arg;
  V_VT(&arg) = VT_I2;
  V_I2(&arg) = 1;
  DISPPARAMS params = {&arg, nullptr, 1, 0};
  Var by_default;
  ASSERT_HRESULT_SUCCEEDED(collection->Invoke(DISPID_VALUE, IID_NULL, 0,
                                              DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                                              &by_default.v, nullptr, nullptr));
  EXPECT_EQ(by_default.Text(), L"1\r\nAA");
  Call(collection, L"Item", {&none.v}, &zero);
  Call(collection, L"Item", {&three.v}, &beyond);
  EXPECT_EQ(ErrorNumber(zero.scode), 9);
  EXPECT_EQ(ErrorNumber(beyond.scode), 9);

  Var extra(L"3\r\nCC"), key(L"k");
  Outcome add, by_key, remove;
  Call(collection, L"Add", {&extra.v, &key.v}, &add);
  ASSERT_HRESULT_SUCCEEDED(add.hr);
  Call(collection, L"Item", {&key.v}, &by_key);
  EXPECT_EQ(by_key.result.Text(), L"3\r\nCC");
  Call(collection, L"Remove", {&one.v}, &remove);
  ASSERT_HRESULT_SUCCEEDED(remove.hr);

  IUnknown* unknown = nullptr;
  ASSERT_HRESULT_SUCCEEDED(collection->_NewEnum(&unknown));
  IEnumVARIANT* items = nullptr;
  ASSERT_HRESULT_SUCCEEDED(
      unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&items)));
  std::vector<std::wstring> seen;
  Var item;
  while (items->Next(1, &item.v, nullptr) == S_OK) {
    seen.push_back(item.Text());
    VariantClear(&item.v);
  }
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"2\r\nBB", L"3\r\nCC"}));
  items->Release();
  unknown->Release();
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
  wchar_t path[MAX_PATH] = {};
  DWORD size = sizeof(path);
  ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT,
                         L"CLSID\\{23D972A8-7EDA-4077-9F64-3931F8B2ABFF}\\InprocServer32", nullptr,
                         RRF_RT_REG_SZ, nullptr, path, &size),
            ERROR_SUCCESS);
  HMODULE module = LoadLibraryW(path);
  ASSERT_NE(module, nullptr);
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  auto get = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  auto can_unload = reinterpret_cast<CanUnload>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_TRUE(get && can_unload);
  EXPECT_EQ(can_unload(), S_OK);
  IClassFactory* factory = nullptr;
  EXPECT_EQ(get(__uuidof(::TRegistry), IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_HRESULT_SUCCEEDED(
      get(__uuidof(::SMSDeliver), IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  EXPECT_EQ(can_unload(), S_FALSE);
  IUnknown* object = nullptr;
  ASSERT_HRESULT_SUCCEEDED(
      factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)));
  factory->Release();
  EXPECT_EQ(can_unload(), S_FALSE);
  object->Release();
  EXPECT_EQ(can_unload(), S_OK);
  FreeLibrary(module);
}

TEST_F(ComClient, LongMessagePartsAndTheListingThroughTheModem) {
  if (ModemPort() == 0) GTEST_SKIP() << "no simulated modem (TARVEX_TEST_COM)";
  ModemSlot slot_settings;
  ProgressSink sink;
  DWORD cookie = 0;
  IConnectionPoint* point = Advise(tarvex_, &sink, &cookie);
  short slot = 1;
  VARIANT_BOOL opened = VARIANT_FALSE;
  ASSERT_HRESULT_SUCCEEDED(tarvex_->DeviceOpen(&slot, &opened));
  ASSERT_EQ(opened, VARIANT_TRUE);
  Var number(L"+15550100"), text(std::wstring(153, L'x') + std::wstring(153, L'y') + L"z");
  // By name, with the arguments a script passes.
  Var slot_arg(short{1}), inbox_arg(short{ibxNewMessage});
  Outcome sent;
  Call(tarvex_, L"SendLongMessage", {&slot_arg.v, &number.v, &text.v}, &sent);
  EXPECT_EQ(sent.result.Text(), L"OK") << sent.description;
  ASSERT_EQ(sink.events.size(), 3u);
  for (short part = 1; part <= 3; ++part) {
    EXPECT_EQ(sink.events[part - 1].count, 3);
    EXPECT_EQ(sink.events[part - 1].part, part);
  }
  EXPECT_EQ(sink.events.back().text, L"z");

  // The simulator's demo inbox (five) and the three parts just sent; the last
  // one decodes to the last part's text.
  Outcome listing, count, last, decode, decoded;
  Call(tarvex_, L"ReadMessage", {&slot_arg.v, &inbox_arg.v}, &listing);
  ASSERT_EQ(V_VT(&listing.result.v), VT_DISPATCH) << listing.description;
  IDispatch* entries = V_DISPATCH(&listing.result.v);
  Call(entries, L"Count", {}, &count, DISPATCH_PROPERTYGET);
  EXPECT_EQ(V_I4(&count.result.v), 8);
  Call(entries, L"Item", {&count.result.v}, &last);
  Call(deliver_, L"Decode", {&last.result.v}, &decode);
  Call(deliver_, L"MessageText", {}, &decoded, DISPATCH_PROPERTYGET);
  EXPECT_EQ(decoded.result.Text(), L"z");
  VARIANT_BOOL closed = VARIANT_FALSE;
  tarvex_->DeviceClose(&slot, &closed);
  EXPECT_EQ(closed, VARIANT_TRUE);
  point->Unadvise(cookie);
  point->Release();
}

}  // namespace
}  // namespace tarvex::com::testing
