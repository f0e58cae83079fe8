#pragma once
// IUnknown for an object that answers one interface besides IUnknown: the reference
// count is atomic, starts at 1 (the creator's reference) and the object deletes
// itself at its last Release.
#include <atomic>

#include "vyrcom/com_interfaces.h"

namespace vyr::com {

template <class Interface, const IID& kInterfaceId>
class UnknownImpl : public Interface {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == kInterfaceId) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~UnknownImpl() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace vyr::com
