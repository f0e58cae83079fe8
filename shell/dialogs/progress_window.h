#pragma once
// The download's progress window ("Download progress"): an animation, two lines of
// text, a progress bar and Cancel. It stays open while the downloaded file is imported.
// The worker reaches it through a ProgressBridge, which may be called from any thread.
#include <QDialog>
#include <QPointer>

#include <atomic>
#include <memory>

#include "net/download.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace weavil {

// Pages flying from a server to a folder, redrawn a few times a second.
class TransferAnimation : public QWidget {
  Q_OBJECT

 public:
  explicit TransferAnimation(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {272, 60}; }
  void SetRunning(bool running);
  bool Running() const;
  int Frame() const { return frame_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QTimer* timer_ = nullptr;
  int frame_ = 0;
};

class ProgressWindow : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressWindow(QWidget* owner);

  void SetTitle(const QString& title) { setWindowTitle(title); }
  void SetCancelMessage(const QString& text) { cancelMessage_ = text; }
  void SetLine(int line, const QString& text);
  void SetProgress(int64_t done, int64_t total);
  // Shows the window, modal to its owner.
  void Start();
  // Hides the window; it stays inert afterwards.
  void Stop();
  bool HasUserCancelled() const { return cancelled_->load(); }
  // The download is over and the import reads the file: nothing left to cancel.
  void ShowImporting();

  QLabel* Line1() const { return line1_; }
  QLabel* Line2() const { return line2_; }
  QProgressBar* Bar() const { return bar_; }
  QPushButton* CancelButton() const { return cancel_; }
  TransferAnimation* Animation() const { return animation_; }
  // The flag the bridge reads on the worker thread.
  std::shared_ptr<std::atomic<bool>> CancelFlag() const { return cancelled_; }

 public slots:
  // Escape and the window's close button mean Cancel; the window stays until the work ends.
  void reject() override;

 private:
  void OnCancel();

  TransferAnimation* animation_ = nullptr;
  QLabel* line1_ = nullptr;
  QLabel* line2_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QString cancelMessage_;
  bool stopped_ = false;
  std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
};

// The worker's side: every call is handed to the window's thread; a window that is gone
// takes nothing. Cancel is read from a flag shared with the window.
class ProgressBridge final : public DownloadProgress {
 public:
  ProgressBridge(ProgressWindow* window, QObject* context);
  void SetProgress(int64_t done, int64_t total) override;
  void SetLine2(const std::string& text) override;
  void Start() override;
  bool HasUserCancelled() override { return cancelled_->load(); }
  void Stop() override;
  // Ends the transfer as Cancel does (the window is closing under it).
  void Cancel() { cancelled_->store(true); }

 private:
  template <typename F>
  void Post(F&& work);

  QPointer<ProgressWindow> window_;
  QPointer<QObject> context_;
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

}  // namespace weavil
