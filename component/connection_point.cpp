#include "vyrcom/connection_point.h"

namespace vyr::com {

HRESULT ConnectionPoint::QueryInterface(const IID& iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = owner_;
  owner_->AddRef();
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  // The sink answers the event interface, which is dispatch-only: an IDispatch.
  ComPtr<IDispatch> dispatch;
  if (FAILED(sink->QueryInterface(iid_, dispatch.PutVoid())) || !dispatch) return CONNECT_E_CANNOTCONNECT;
  if (nextCookie_ == 0) return CONNECT_E_ADVISELIMIT;  // all cookies used up
  *cookie = nextCookie_++;
  sinks_.emplace_back(*cookie, std::move(dispatch));
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->first == cookie) {
      ComPtr<IDispatch> sink = std::move(it->second);  // released after the list is consistent
      sinks_.erase(it);
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT ConnectionPoint::EnumConnections(void** enumerator) {
  if (enumerator) *enumerator = nullptr;
  return E_NOTIMPL;
}

void ConnectionPoint::FireAll(DISPID id, DISPPARAMS* params) {
  if (sinks_.empty()) return;
  // A copy: a sink may Unadvise (or Advise) from inside its handler.
  std::vector<ComPtr<IDispatch>> targets;
  targets.reserve(sinks_.size());
  for (auto& entry : sinks_) targets.push_back(entry.second);
  for (auto& sink : targets) {
    VARIANT result;
    VariantInit(&result);
    sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, &result, nullptr, nullptr);
    VariantClear(&result);
  }
}

void ConnectionPoint::DisconnectAll() {
  auto sinks = std::move(sinks_);
  sinks_.clear();
}

}  // namespace vyr::com
