#pragma once
// A widget that hosts one windowless control, created from its class identifier text
// ("{...}" or a ProgID): it sizes the control to itself, paints it and forwards the
// mouse to it.
#include <QWidget>

#include "vyrcom/com_ptr.h"

namespace vyr::com {

class ControlHost : public QWidget {
 public:
  explicit ControlHost(const QString& classId, QWidget* parent = nullptr);
  ~ControlHost() override;

  // The result of creating the control; the host paints an empty frame when it failed.
  HRESULT CreationResult() const { return creationResult_; }
  // The control (null when creation failed); QueryInterface it for its dual interface.
  IUnknown* Control() const { return unknown_.Get(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  class Site;
  void Forward(UINT message, QMouseEvent* event);

  HRESULT creationResult_ = E_FAIL;
  ComPtr<IUnknown> unknown_;
  ComPtr<IVyrWindowlessControl> control_;
  Site* site_ = nullptr;
  ULONG messageTime_ = 0;  // time stamp of the event being forwarded
};

}  // namespace vyr::com
