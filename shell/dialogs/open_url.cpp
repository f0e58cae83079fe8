#include "shell/dialogs/open_url.h"

#include <QMetaObject>
#include <QWidget>

#include "settings/settings.h"
#include "shell/dialogs/dialog_prompts.h"
#include "shell/dialogs/download_dialog.h"
#include "shell/dialogs/progress_window.h"

namespace weavil {

DownloadSequence::DownloadSequence(const OpenUrlHost& host, DownloadRequest request)
    : QObject(host.window), host_(host), request_(std::move(request)) {
  // Created after this object, so the window's children go in that order and the worker
  // has been joined before the progress window is destroyed.
  window_ = new ProgressWindow(host.window);
  window_->SetTitle(QStringLiteral("Download progress"));
  window_->SetCancelMessage(QStringLiteral("Stopping download..."));
  window_->SetLine(1, QStringLiteral("Downloading data..."));
  bridge_ = std::make_unique<ProgressBridge>(window_, this);
}

DownloadSequence::~DownloadSequence() {
  bridge_->Cancel();
  worker_.Join();
  delete window_.data();
}

ProgressWindow* DownloadSequence::Window() const { return window_.data(); }

bool DownloadSequence::Start() {
  return worker_.Start(request_, bridge_.get(), [this](const DownloadResult& result) {
    // The download-finished command, posted to the window's thread.
    QMetaObject::invokeMethod(this, [this, result] { OnFinished(result); }, Qt::QueuedConnection);
  });
}

void DownloadSequence::OnFinished(const DownloadResult& result) {
  worker_.Join();
  result_ = result;
  // A replaced (rotated) log is imported from its start.
  if (result.rotated && host_.setDownloadJob) host_.setDownloadJob(ImportJob{request_.LocalFile(), 0, {}});
  if (!result.Succeeded()) {
    if (window_) window_->Stop();
    DialogPromptsInUse().showError(host_.window, QStringLiteral("Error"), QString::fromStdString(result.message));
  } else if (window_) {
    window_->ShowImporting();
  }
  // Whatever happened, the local file is imported: a failed download still ends through
  // an import, so the busy state always comes down.
  if (host_.downloadFinished) host_.downloadFinished();
}

void DownloadSequence::Close() {
  if (window_) window_->Stop();
  deleteLater();
}

DownloadSequence* RunOpenUrl(const OpenUrlHost& host) {
  if ((host.busy && host.busy()) || DownloadWorker::IsRunning()) return nullptr;
  DownloadDialog dialog(CopySettings(), host.window);
  if (!host.programDir.empty()) dialog.SetProgramDir(host.programDir);
  int answer = host.runDialog ? host.runDialog(dialog) : dialog.exec();
  if (answer != QDialog::Accepted) return nullptr;

  const DownloadRequest& request = dialog.Request();
  if (host.setBusy) host.setBusy(true);
  if (host.storeSelectionPath) host.storeSelectionPath();
  auto* sequence = new DownloadSequence(host, request);
  if (host.setDownloadJob) host.setDownloadJob(ImportJob{request.LocalFile(), request.importOffset, {}});
  if (host.setProgressCloser) {
    QPointer<DownloadSequence> guard(sequence);
    host.setProgressCloser([guard] {
      if (guard) guard->Close();
    });
  }
  if (!sequence->Start()) {
    // Another download took the worker meanwhile: nothing runs, nothing is held.
    if (host.setProgressCloser) host.setProgressCloser(nullptr);
    if (host.setBusy) host.setBusy(false);
    delete sequence;
    return nullptr;
  }
  return sequence;
}

}  // namespace weavil
