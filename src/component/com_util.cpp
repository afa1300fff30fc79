#include "com_util.h"

#include <new>

#include "common/text.h"

namespace tarvex::com {

std::atomic<long>& ObjectCount() {
  static std::atomic<long> count{0};
  return count;
}

std::atomic<long>& LockCount() {
  static std::atomic<long> count{0};
  return count;
}

std::u16string ToU16(BSTR text) {
  if (text == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

std::string ToUtf8(BSTR text) { return Utf16ToUtf8(ToU16(text)); }

BSTR MakeBstr(std::u16string_view text) {
  BSTR result = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                  static_cast<UINT>(text.size()));
  if (result == nullptr) throw std::bad_alloc();
  return result;
}

BSTR MakeBstr(std::string_view utf8) { return MakeBstr(Utf8ToUtf16(utf8)); }

void AssignBstr(BSTR* target, std::u16string_view text) {
  if (ToU16(*target) == text) return;
  BSTR replacement = MakeBstr(text);
  SysFreeString(*target);
  *target = replacement;
}

namespace {

HRESULT SetError(REFIID iid, HRESULT hr, std::string_view description) {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(L"Tarvex4"));
    const std::u16string text = Utf8ToUtf16(description);
    create->SetDescription(const_cast<LPOLESTR>(reinterpret_cast<const wchar_t*>(text.c_str())));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return hr;
}

}  // namespace

HRESULT ReportError(REFIID iid, int32_t number, std::string_view description) {
  return SetError(iid, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number & 0xFFFF),
                  description);
}

HRESULT ReportUnexpected(REFIID iid, std::string_view description) {
  return SetError(iid, E_UNEXPECTED, description);
}

}  // namespace tarvex::com
