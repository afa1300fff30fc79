#include "connection_point.h"

#include <olectl.h>

#include <utility>

#include "enumerators.h"

namespace tarvex::com {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, REFIID events)
    : container_(container), events_(events) {}

ConnectionPoint::~ConnectionPoint() { DisconnectAll(); }

HRESULT ConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG ConnectionPoint::AddRef() { return container_->AddRef(); }
ULONG ConnectionPoint::Release() { return container_->Release(); }

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = events_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (out == nullptr) return E_POINTER;
  *out = container_;
  container_->AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (sink == nullptr) return E_POINTER;
  // Script hosts' sinks often answer only to IDispatch; the events are
  // raised through IDispatch::Invoke either way.
  IDispatch* dispatch = nullptr;
  if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(&dispatch))) &&
      FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  for (size_t i = 0; i < sinks_.size(); ++i) {
    if (sinks_[i] == nullptr) {
      sinks_[i] = dispatch;
      *cookie = static_cast<DWORD>(i + 1);
      return S_OK;
    }
  }
  sinks_.push_back(dispatch);
  *cookie = static_cast<DWORD>(sinks_.size());
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  if (cookie == 0 || cookie > sinks_.size() || sinks_[cookie - 1] == nullptr) {
    return CONNECT_E_NOCONNECTION;
  }
  IDispatch* sink = sinks_[cookie - 1];
  sinks_[cookie - 1] = nullptr;
  sink->Release();
  return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (out == nullptr) return E_POINTER;
  std::vector<CONNECTDATA> connections;
  for (size_t i = 0; i < sinks_.size(); ++i) {
    if (sinks_[i] != nullptr) connections.push_back({sinks_[i], static_cast<DWORD>(i + 1)});
  }
  *out = MakeConnectionEnumerator(connections);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

void ConnectionPoint::Fire(DISPID member, DISPPARAMS* params) {
  // A copy with references of its own: a sink may Unadvise (itself or
  // another) while it is being called.
  std::vector<IDispatch*> targets;
  for (IDispatch* sink : sinks_) {
    if (sink != nullptr) {
      sink->AddRef();
      targets.push_back(sink);
    }
  }
  for (IDispatch* sink : targets) {
    sink->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr, nullptr,
                 nullptr);
    sink->Release();
  }
}

void ConnectionPoint::DisconnectAll() {
  for (IDispatch*& sink : sinks_) {
    if (sink != nullptr) std::exchange(sink, nullptr)->Release();
  }
}

}  // namespace tarvex::com
