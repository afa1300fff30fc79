#include "enumerators.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "com_util.h"

namespace tarvex::com {
namespace {

// How an item is copied out to the caller and released from the snapshot.
struct VariantItem {
  static void Copy(VARIANT* to, const VARIANT& from) {
    VariantInit(to);
    VariantCopy(to, const_cast<VARIANT*>(&from));
  }
  static void Free(VARIANT& item) { VariantClear(&item); }
};
struct ConnectionItem {
  static void Copy(CONNECTDATA* to, const CONNECTDATA& from) {
    *to = from;
    if (to->pUnk != nullptr) to->pUnk->AddRef();
  }
  static void Free(CONNECTDATA& item) {
    if (item.pUnk != nullptr) item.pUnk->Release();
  }
};
struct PointItem {
  static void Copy(IConnectionPoint** to, IConnectionPoint* const& from) {
    *to = from;
    from->AddRef();
  }
  static void Free(IConnectionPoint*& item) { item->Release(); }
};

template <typename Item>
class Snapshot {
 public:
  explicit Snapshot(std::vector<Item> items) : items_(std::move(items)) {}
  ~Snapshot() {
    for (auto& item : items_) Traits::Free(item);
  }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;
  const std::vector<Item>& items() const { return items_; }

 private:
  using Traits = std::conditional_t<
      std::is_same_v<Item, VARIANT>, VariantItem,
      std::conditional_t<std::is_same_v<Item, CONNECTDATA>, ConnectionItem, PointItem>>;
  std::vector<Item> items_;
};

template <typename Interface, typename Item, typename Traits>
class Enumerator final : public Interface, private CountedObject {
 public:
  Enumerator(std::shared_ptr<Snapshot<Item>> snapshot, size_t next)
      : snapshot_(std::move(snapshot)), next_(next) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface))) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, Item* out, ULONG* fetched) override {
    if (out == nullptr || (wanted > 1 && fetched == nullptr)) return E_POINTER;
    const auto& items = snapshot_->items();
    ULONG n = 0;
    while (n < wanted && next_ < items.size()) Traits::Copy(&out[n++], items[next_++]);
    if (fetched != nullptr) *fetched = n;
    return n == wanted ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t size = snapshot_->items().size();
    const size_t room = size - std::min(next_, size);
    next_ += std::min<size_t>(count, room);
    return count <= room ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Interface** out) override {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) Enumerator(snapshot_, next_);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  virtual ~Enumerator() = default;

  std::atomic<ULONG> refs_{1};
  std::shared_ptr<Snapshot<Item>> snapshot_;
  size_t next_;
};

template <typename Interface, typename Item, typename Traits>
Interface* Make(std::vector<Item> items) {
  auto snapshot = std::make_shared<Snapshot<Item>>(std::move(items));
  return new Enumerator<Interface, Item, Traits>(std::move(snapshot), 0);
}

}  // namespace

IEnumVARIANT* MakeVariantEnumerator(std::vector<VARIANT> items) {
  return Make<IEnumVARIANT, VARIANT, VariantItem>(std::move(items));
}

IEnumConnections* MakeConnectionEnumerator(const std::vector<CONNECTDATA>& items) {
  std::vector<CONNECTDATA> copies(items.size());
  for (size_t i = 0; i < items.size(); ++i) ConnectionItem::Copy(&copies[i], items[i]);
  return Make<IEnumConnections, CONNECTDATA, ConnectionItem>(std::move(copies));
}

IEnumConnectionPoints* MakeConnectionPointEnumerator(const std::vector<IConnectionPoint*>& items) {
  std::vector<IConnectionPoint*> copies(items.size());
  for (size_t i = 0; i < items.size(); ++i) PointItem::Copy(&copies[i], items[i]);
  return Make<IEnumConnectionPoints, IConnectionPoint*, PointItem>(std::move(copies));
}

}  // namespace tarvex::com
