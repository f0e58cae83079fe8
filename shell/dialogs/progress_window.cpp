#include "shell/dialogs/progress_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "shell/dialogs/dialog_parts.h"

namespace weavil {

// ------------------------------------------------------------------ animation

TransferAnimation::TransferAnimation(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("animation"));
  setMinimumSize(sizeHint());
  timer_ = new QTimer(this);
  timer_->setInterval(80);
  connect(timer_, &QTimer::timeout, this, [this] {
    frame_ = (frame_ + 1) % 24;
    update();
  });
}

void TransferAnimation::SetRunning(bool running) {
  if (running) timer_->start();
  else timer_->stop();
}

bool TransferAnimation::Running() const { return timer_->isActive(); }

void TransferAnimation::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colours = palette();
  const int h = height();
  // The server on the left, the folder on the right.
  QRectF server(8, h / 2.0 - 22, 30, 44);
  painter.setPen(colours.color(QPalette::WindowText));
  painter.setBrush(colours.color(QPalette::Button));
  painter.drawRoundedRect(server, 3, 3);
  for (int slot = 0; slot < 4; ++slot)
    painter.drawLine(QPointF(server.left() + 5, server.top() + 8 + slot * 8),
                     QPointF(server.right() - 5, server.top() + 8 + slot * 8));
  QRectF folder(width() - 50, h / 2.0 - 14, 42, 30);
  QPainterPath tab;
  tab.moveTo(folder.left(), folder.top());
  tab.lineTo(folder.left() + 14, folder.top());
  tab.lineTo(folder.left() + 18, folder.top() + 5);
  tab.lineTo(folder.right(), folder.top() + 5);
  tab.lineTo(folder.right(), folder.bottom());
  tab.lineTo(folder.left(), folder.bottom());
  tab.closeSubpath();
  painter.setBrush(QColor(0xE8, 0xC0, 0x50));
  painter.drawPath(tab);

  // Three sheets on an arc between them, a third of the way apart.
  const double left = server.right() + 6, right = folder.left() - 18;
  painter.setBrush(colours.color(QPalette::Base));
  for (int sheet = 0; sheet < 3; ++sheet) {
    double t = std::fmod(frame_ / 24.0 + sheet / 3.0, 1.0);
    double x = left + (right - left) * t;
    double y = h / 2.0 - 6 - 16 * std::sin(t * 3.14159265);
    painter.drawRect(QRectF(x, y, 12, 15));
    painter.drawLine(QPointF(x + 3, y + 5), QPointF(x + 9, y + 5));
    painter.drawLine(QPointF(x + 3, y + 9), QPointF(x + 9, y + 9));
  }
}

// ------------------------------------------------------------------ window

ProgressWindow::ProgressWindow(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("progressWindow"));
  // No minimise or maximise button.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setWindowModality(Qt::WindowModal);
  animation_ = new TransferAnimation(this);
  line1_ = MakeNamed<QLabel>("line1", this);
  line2_ = MakeNamed<QLabel>("line2", this);
  bar_ = MakeNamed<QProgressBar>("progress", this);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  cancel_ = MakeNamed<QPushButton>("cancel", QStringLiteral("Cancel"), this);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(animation_);
  layout->addWidget(line1_);
  layout->addWidget(line2_);
  layout->addWidget(bar_);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(cancel_);
  layout->addLayout(row);
  setMinimumWidth(380);

  connect(cancel_, &QPushButton::clicked, this, &ProgressWindow::OnCancel);
}

void ProgressWindow::SetLine(int line, const QString& text) {
  if (line == 1) line1_->setText(text);
  else if (line == 2) line2_->setText(text);
}

void ProgressWindow::SetProgress(int64_t done, int64_t total) {
  // The bar counts in thousandths so that totals beyond the int range still fit.
  int value = 0;
  if (total > 0) value = static_cast<int>(std::min<int64_t>(done, total) * 1000 / total);
  bar_->setRange(0, 1000);
  bar_->setValue(value);
}

void ProgressWindow::Start() {
  if (stopped_) return;
  animation_->SetRunning(true);
  show();
  raise();
}

void ProgressWindow::Stop() {
  stopped_ = true;
  animation_->SetRunning(false);
  hide();
}

void ProgressWindow::ShowImporting() {
  if (stopped_) return;
  cancel_->setEnabled(false);
  line1_->setText(QStringLiteral("Importing data..."));
  bar_->setRange(0, 0);
  if (!isVisible()) Start();
}

void ProgressWindow::OnCancel() {
  if (cancelled_->exchange(true)) return;
  cancel_->setEnabled(false);
  if (!cancelMessage_.isEmpty()) line1_->setText(cancelMessage_);
}

void ProgressWindow::reject() {
  if (cancel_->isEnabled()) OnCancel();
}

// ------------------------------------------------------------------ bridge

ProgressBridge::ProgressBridge(ProgressWindow* window, QObject* context)
    : window_(window), context_(context), cancelled_(window->CancelFlag()) {}

template <typename F>
void ProgressBridge::Post(F&& work) {
  QPointer<ProgressWindow> window = window_;
  QObject* context = context_.data();
  if (!context) return;
  QMetaObject::invokeMethod(
      context,
      [window, work = std::forward<F>(work)] {
        if (window) work(*window);
      },
      Qt::QueuedConnection);
}

void ProgressBridge::SetProgress(int64_t done, int64_t total) {
  Post([done, total](ProgressWindow& window) { window.SetProgress(done, total); });
}

void ProgressBridge::SetLine2(const std::string& text) {
  QString line = QString::fromStdString(text);
  Post([line](ProgressWindow& window) { window.SetLine(2, line); });
}

void ProgressBridge::Start() {
  Post([](ProgressWindow& window) { window.Start(); });
}

void ProgressBridge::Stop() {
  Post([](ProgressWindow& window) { window.Stop(); });
}

}  // namespace weavil
