#pragma once
// An owning interface pointer: AddRef on copy, Release on destruction.
#include <utility>

#include "vyrcom/com_interfaces.h"

namespace vyr::com {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(T* p) : p_(p) {  // NOLINT: adopts a borrowed pointer with AddRef
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(const ComPtr& other) {
    ComPtr copy(other);
    std::swap(p_, copy.p_);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  // Takes over a reference the caller already owns.
  void Attach(T* p) {
    Reset();
    p_ = p;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  // For out-parameters: releases the current pointer and hands out its address.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  // QueryInterface of the held object into another smart pointer.
  template <class U>
  HRESULT As(const IID& iid, ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out->PutVoid());
  }

 private:
  T* p_ = nullptr;
};

}  // namespace vyr::com
