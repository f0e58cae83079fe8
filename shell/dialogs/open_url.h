#pragma once
// The "Open Url" command from the dialog to the import: the download dialog, the
// progress window, the download worker, the error box, and the hand-over to the
// window's import of the local file. The window's side is reached through OpenUrlHost.
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>

#include "import/import_driver.h"
#include "net/download.h"

class QWidget;

namespace weavil {

class DownloadDialog;
class ProgressBridge;
class ProgressWindow;

struct OpenUrlHost {
  QWidget* window = nullptr;  // owns the dialog, the progress window and the error box
  std::string programDir;     // the program's folder; empty: the running program's
  std::function<bool()> busy;
  std::function<void(bool)> setBusy;
  std::function<void()> storeSelectionPath;
  // The import that follows the download.
  std::function<void(const ImportJob&)> setDownloadJob;
  // Called by the window when that import has finished: closes the progress window.
  std::function<void(std::function<void()>)> setProgressCloser;
  // The download-finished command: starts the import (on the window's thread).
  std::function<void()> downloadFinished;
  // Lets a test answer the dialog; the default runs it modally.
  std::function<int(DownloadDialog&)> runDialog;
};

// One download from its start to the close of its progress window.
class DownloadSequence : public QObject {
  Q_OBJECT

 public:
  DownloadSequence(const OpenUrlHost& host, DownloadRequest request);
  ~DownloadSequence() override;

  bool Start();
  ProgressWindow* Window() const;
  const DownloadResult& Result() const { return result_; }
  // Stops and releases the progress window; the sequence goes with it.
  void Close();

 private:
  void OnFinished(const DownloadResult& result);

  OpenUrlHost host_;
  DownloadRequest request_;
  QPointer<ProgressWindow> window_;
  std::unique_ptr<ProgressBridge> bridge_;
  DownloadWorker worker_;
  DownloadResult result_;
};

// Open Url: nothing while the window is busy or a download runs; otherwise the dialog
// and, on OK, the download. Returns the running sequence, or null.
DownloadSequence* RunOpenUrl(const OpenUrlHost& host);

}  // namespace weavil
