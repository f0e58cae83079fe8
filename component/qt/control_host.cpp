#include "component/qt/control_host.h"

#include <QMouseEvent>
#include <QPainter>

#include <atomic>

#include "vyrcom/instance.h"
#include "vyrcom/unknown_impl.h"

namespace vyr::com {

// The host's side of the control; it outlives neither the host nor the control's hold.
class ControlHost::Site final : public UnknownImpl<IVyrControlSite, IID_IVyrControlSite> {
 public:
  explicit Site(ControlHost* host) : host_(host) {}
  void Detach() { host_ = nullptr; }

  HRESULT InvalidateRect(const RECT* rect, BOOL) override {
    if (!host_) return E_UNEXPECTED;
    if (rect) host_->update(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top));
    else host_->update();
    return S_OK;
  }
  HRESULT GetMessageTime(ULONG* milliseconds) override {
    if (!milliseconds) return E_POINTER;
    if (!host_) return E_UNEXPECTED;
    *milliseconds = host_->messageTime_;
    return S_OK;
  }

 private:
  ~Site() = default;
  ControlHost* host_;
};

ControlHost::ControlHost(const QString& classId, QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);  // the control fires hover events from plain moves
  setAttribute(Qt::WA_OpaquePaintEvent);
  site_ = new Site(this);
  creationResult_ = CreateInstance(classId.toStdString(), IID_IUnknown, unknown_.PutVoid());
  if (SUCCEEDED(creationResult_)) {
    creationResult_ = unknown_.As(IID_IVyrWindowlessControl, &control_);
    if (SUCCEEDED(creationResult_)) {
      control_->SetSite(site_);
      SIZE extent{HimetricFromPixels(width()), HimetricFromPixels(height())};
      control_->SetExtent(&extent);
    }
  }
}

ControlHost::~ControlHost() {
  if (control_) control_->SetSite(nullptr);
  control_.Reset();
  unknown_.Reset();
  site_->Detach();
  site_->Release();
}

void ControlHost::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!control_) {
    painter.fillRect(rect(), palette().window());
    return;
  }
  // A widget resized while hidden gets its resize event late; paint at the real size.
  SIZE extent{HimetricFromPixels(width()), HimetricFromPixels(height())};
  control_->SetExtent(&extent);
  RECT bounds{0, 0, width(), height()};
  control_->Draw(&painter, &bounds);
}

void ControlHost::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!control_) return;
  SIZE extent{HimetricFromPixels(width()), HimetricFromPixels(height())};
  control_->SetExtent(&extent);
}

void ControlHost::Forward(UINT message, QMouseEvent* event) {
  if (!control_) return;
  WPARAM keys = 0;
  Qt::MouseButtons buttons = event->buttons();
  if (buttons & Qt::LeftButton) keys |= MK_LBUTTON;
  if (buttons & Qt::RightButton) keys |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) keys |= MK_MBUTTON;
  if (event->modifiers() & Qt::ShiftModifier) keys |= MK_SHIFT;
  if (event->modifiers() & Qt::ControlModifier) keys |= MK_CONTROL;
  QPoint at = event->position().toPoint();
  messageTime_ = static_cast<ULONG>(event->timestamp());
  LRESULT result = 0;
  if (control_->OnWindowMessage(message, keys, MakeMouseLParam(at.x(), at.y()), &result) == S_FALSE)
    event->ignore();
}

void ControlHost::mouseMoveEvent(QMouseEvent* event) { Forward(WM_MOUSEMOVE, event); }

void ControlHost::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Forward(WM_LBUTTONDOWN, event);
  else QWidget::mousePressEvent(event);
}

void ControlHost::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Forward(WM_LBUTTONUP, event);
  else QWidget::mouseReleaseEvent(event);
}

void ControlHost::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Forward(WM_LBUTTONDBLCLK, event);
  else QWidget::mouseDoubleClickEvent(event);
}

}  // namespace vyr::com
