#pragma once
// A connection point for one outgoing dispatch interface, for servers to embed. It
// shares the lifetime of its container: AddRef and Release go to the owner.
#include <utility>
#include <vector>

#include "vyrcom/com_ptr.h"

namespace vyr::com {

class VYRCOM_API ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(IConnectionPointContainer* owner, const IID& iid) : owner_(owner), iid_(iid) {}
  ~ConnectionPoint() = default;
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  HRESULT QueryInterface(const IID& iid, void** object) override;
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }
  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT Unadvise(DWORD cookie) override;
  HRESULT EnumConnections(void** enumerator) override;

  const IID& Iid() const { return iid_; }
  bool HasSinks() const { return !sinks_.empty(); }
  // Calls Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params) on every
  // connected sink. Sinks may disconnect during the call; failures are ignored.
  void FireAll(DISPID id, DISPPARAMS* params);
  // Drops every connection (the owner is going away).
  void DisconnectAll();

 private:
  IConnectionPointContainer* owner_;
  IID iid_;
  DWORD nextCookie_ = 1;
  std::vector<std::pair<DWORD, ComPtr<IDispatch>>> sinks_;
};

}  // namespace vyr::com
