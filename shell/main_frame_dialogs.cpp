// The commands that open the dialogs of other subsystems: download, host-name
// resolution, filter, whois and visitor information. Each lives here so that its dialog
// can be wired in without touching the rest of the window.
#include "shell/main_frame.h"

#include <QApplication>
#include <QPointer>

#include "reports/country_names.h"
#include "reports/report_filter.h"
#include "reports/visit_details.h"
#include "shell/dialogs/filter_dialog.h"
#include "shell/dialogs/open_url.h"
#include "shell/dialogs/resolve_ip_dialog.h"
#include "shell/dialogs/visitor_info_dialog.h"
#include "shell/dialogs/whois_dialog.h"
#include "shell/report_tabs.h"
#include "shell/shell_prompts.h"
#include "shell/tree_list_view.h"
#include "store/database.h"
#include "store/result.h"
#include "store/view_requests.h"

namespace weavil {

// Open Url (32776): the download dialog, then the download worker.
void MainFrame::OnOpenUrl() {
  if (Busy()) return;
  OpenUrlHost host;
  host.window = this;
  host.programDir = ProgramDir();
  host.busy = [this] { return Busy(); };
  host.setBusy = [this](bool busy) { SetBusy(busy); };
  host.storeSelectionPath = [this] { StoreSelectionPath(); };
  host.setDownloadJob = [this](const ImportJob& job) { SetDownloadJob(job); };
  host.setProgressCloser = [this](std::function<void()> closer) { SetDownloadProgressCloser(std::move(closer)); };
  host.downloadFinished = [this] { OnDownloadFinished(); };
  RunOpenUrl(host);
}

// Resolve (32772): the host-name resolution dialog.
void MainFrame::OnResolve() {
  QPointer<QWidget> focus = QApplication::focusWidget();
  const bool automatic = AutoResolve();
  ResolveIpDialog dialog(automatic, this);
  if (dialog.exec() == QDialog::Accepted) {
    if (!automatic) StoreSelectionPath();
    RaiseResetViews();
    RaiseReloadViews();
    ScheduleIdle();
  }
  ClearAutoResolve();
  if (focus) focus->setFocus();
}

// Filter (32777): the filter dialog.
void MainFrame::OnFilter() {
  FilterDialog dialog(CopyReportFilter(), AppCountryNames(), this);
  if (dialog.exec() == QDialog::Accepted) ScheduleIdle();
}

// WhoIs (32786): the whois dialog.
void MainFrame::OnWhois() {
  WhoisDialog dialog(this, nullptr, QString(), QString(), QString());
  dialog.exec();
}

// Visitor... (32778): the visitor information dialog for the selected session.
void MainFrame::OnVisitor() {
  TreeListView* list = tabs_->CurrentListView();
  if (!list || list->SelectedRow() == kNoRow || list->SelectedKey() <= 0) return;
  const RowId row = list->SelectedRow();
  const int32_t numId = list->SelectedKey();

  VisitorUpdate visitor;
  {
    DbSession session;
    if (Failed(OpenSourceSession(session))) return;
    if (AppCountryNames().Size() == 0) AppCountryNames().Load(session);
    if (LoadVisitorForDialog(session, numId, visitor) != kResultOk) return;
  }

  VisitorInfoDialog dialog(visitor, AppCountryNames(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (Failed(dialog.SaveResult())) {
    // Nothing was stored: the page and the row keep what the database holds.
    Prompts().showError(this, QStringLiteral("Error"),
                        QStringLiteral("The visitor %1 could not be saved: %2")
                            .arg(QString::fromStdString(visitor.address), QString::fromStdString(dialog.SaveError())));
    return;
  }
  const VisitorUpdate& saved = dialog.Result();
  if (shownVisit_ == numId) {
    ShowVisitorOnPage(detailsHtml_, saved, AppCountryNames());
    ShowDetailsHtml();
  }
  if (tabs_->currentIndex() == kSessionsTab && list->Tree()) {
    list->Tree()->SetText(row, 0, RelabelSessionRow(list->Tree()->Text(row, 0), saved.url));
    list->RowChanged(row);
  }
}

}  // namespace weavil
