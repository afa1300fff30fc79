#include "collection_object.h"

#include <atomic>
#include <new>
#include <optional>

#include "com_util.h"
#include "common/text.h"
#include "dispatch.h"
#include "enumerators.h"

namespace tarvex::com {
namespace {

// The platform collection's own number for a key given twice.
constexpr int32_t kDuplicateKey = 457;

struct Entry {
  VARIANT value;
  std::u16string key;  // empty: no key
  std::u16string folded_key;
};

// Keys compare without regard to case, as the platform's collection does.
std::u16string Fold(std::u16string key) {
  if (!key.empty()) {
    CharLowerBuffW(reinterpret_cast<wchar_t*>(key.data()), static_cast<DWORD>(key.size()));
  }
  return key;
}

class CollectionObject final : public DualDispatch<_Collection>,
                               public ISupportErrorInfo,
                               private CountedObject {
 public:
  CollectionObject() = default;

  void Append(const VARIANT& value) {
    Entry entry{};
    VariantInit(&entry.value);
    VariantCopy(&entry.value, const_cast<VARIANT*>(&value));
    entries_.push_back(std::move(entry));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, __uuidof(_Collection))) {
      *out = static_cast<_Collection*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, __uuidof(_Collection)) ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE Item(VARIANT* Index, VARIANT* result) override {
    if (Index == nullptr || result == nullptr) return E_POINTER;
    VariantInit(result);
    return Guarded(__uuidof(_Collection), [&] {
      const size_t at = Locate(*Index);
      Check(VariantCopy(result, &entries_[at].value));
    });
  }

  HRESULT STDMETHODCALLTYPE Add(VARIANT* item, VARIANT* Key, VARIANT* Before,
                                VARIANT* After) override {
    if (item == nullptr) return E_POINTER;
    return Guarded(__uuidof(_Collection), [&] {
      const bool has_before = Given(Before);
      const bool has_after = Given(After);
      if (has_before && has_after) {
        throw Error(kInvalidArgument,
                    "Invalid procedure call or argument: Before and After both given");
      }
      Entry entry{};
      VariantInit(&entry.value);
      if (Given(Key)) {
        entry.key = TextOf(*Key);
        entry.folded_key = Fold(entry.key);
        if (FindKey(entry.folded_key)) {
          throw Error(kDuplicateKey,
                      "This key is already associated with an element of this "
                      "collection");
        }
      }
      size_t insert_at = entries_.size();
      if (has_before) insert_at = Locate(*Before);
      if (has_after) insert_at = Locate(*After) + 1;
      Check(VariantCopyInd(&entry.value, item));
      entries_.insert(entries_.begin() + static_cast<ptrdiff_t>(insert_at), std::move(entry));
    });
  }

  HRESULT STDMETHODCALLTYPE Count(LONG* result) override {
    if (result == nullptr) return E_POINTER;
    *result = static_cast<LONG>(entries_.size());
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Remove(VARIANT* Index) override {
    if (Index == nullptr) return E_POINTER;
    return Guarded(__uuidof(_Collection), [&] {
      const size_t at = Locate(*Index);
      VariantClear(&entries_[at].value);
      entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(at));
    });
  }

  HRESULT STDMETHODCALLTYPE _NewEnum(IUnknown** result) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    return Guarded(__uuidof(_Collection), [&] {
      std::vector<VARIANT> items(entries_.size());
      for (size_t i = 0; i < entries_.size(); ++i) {
        VariantInit(&items[i]);
        VariantCopy(&items[i], const_cast<VARIANT*>(&entries_[i].value));
      }
      *result = MakeVariantEnumerator(std::move(items));
    });
  }

 private:
  ~CollectionObject() {
    for (Entry& entry : entries_) VariantClear(&entry.value);
  }

  static void Check(HRESULT hr) {
    if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
    if (FAILED(hr)) throw Error(kInvalidArgument, "Invalid procedure call or argument");
  }
  static bool Given(const VARIANT* v) {
    return v != nullptr && !(V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND);
  }
  static std::u16string TextOf(const VARIANT& v) {
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeType(&text, const_cast<VARIANT*>(&v), 0, VT_BSTR))) {
      throw Error(kTypeMismatch, "Type mismatch: a key must be text");
    }
    std::u16string result = ToU16(V_BSTR(&text));
    VariantClear(&text);
    return result;
  }
  std::optional<size_t> FindKey(const std::u16string& folded) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (!folded.empty() && entries_[i].folded_key == folded) return i;
    }
    return std::nullopt;
  }
  // A position 1..Count (any number) or a key (text).
  size_t Locate(const VARIANT& index) const {
    VARIANT plain;
    VariantInit(&plain);
    if (FAILED(VariantCopyInd(&plain, const_cast<VARIANT*>(&index)))) {
      throw Error(kInvalidArgument, "Invalid procedure call or argument");
    }
    if (V_VT(&plain) == VT_BSTR) {
      const std::u16string key = Fold(ToU16(V_BSTR(&plain)));
      VariantClear(&plain);
      if (auto at = FindKey(key)) return *at;
      throw Error(kInvalidArgument, "Invalid procedure call or argument: no item has that key");
    }
    VARIANT number;
    VariantInit(&number);
    const HRESULT hr = VariantChangeType(&number, &plain, 0, VT_I4);
    VariantClear(&plain);
    if (FAILED(hr))
      throw Error(kTypeMismatch, "Type mismatch: the index must be a number or a key");
    const LONG position = V_I4(&number);
    if (position < 1 || static_cast<size_t>(position) > entries_.size()) {
      throw Error(kSubscriptOutOfRange, "Subscript out of range: the collection has " +
                                            std::to_string(entries_.size()) + " items");
    }
    return static_cast<size_t>(position - 1);
  }

  std::atomic<ULONG> refs_{1};
  std::vector<Entry> entries_;
};

}  // namespace

_Collection* MakeTextCollection(const std::vector<std::u16string>& items) {
  auto* collection = new CollectionObject();
  for (const std::u16string& item : items) {
    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = nullptr;
    try {
      V_BSTR(&value) = MakeBstr(item);
      collection->Append(value);
    } catch (...) {
      VariantClear(&value);
      collection->Release();
      throw;
    }
    VariantClear(&value);
  }
  return collection;
}

}  // namespace tarvex::com
