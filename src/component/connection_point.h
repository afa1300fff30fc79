// The connection point of one outgoing dispatch interface (the control's
// events): a table of sinks, cookie = slot + 1, the exact CONNECT_E_* codes.
//
// It lives inside its container object and shares its reference count, so a
// host holding the point keeps the container alive.  One apartment thread.
// Fire calls every sink synchronously; a sink that fails or disconnects
// itself during the call does not stop the others.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

namespace tarvex::com {

class ConnectionPoint : public IConnectionPoint {
 public:
  ConnectionPoint(IConnectionPointContainer* container, REFIID events);
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  // Invokes `member` on every sink with DISPATCH_METHOD.
  void Fire(DISPID member, DISPPARAMS* params);

  // Releases every sink (the container is going away).
  void DisconnectAll();

 private:
  IConnectionPointContainer* container_;  // not owned: it owns us
  IID events_;
  std::vector<IDispatch*> sinks_;  // nullptr where a sink was removed
};

}  // namespace tarvex::com
