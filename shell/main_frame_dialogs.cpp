// The commands that open the dialogs of other subsystems: download, host-name
// resolution, filter, whois and visitor information. Each lives here so that its dialog
// can be wired in without touching the rest of the window.
#include "shell/main_frame.h"

namespace weavil {

// Open Url (32776): the download dialog, then the download worker.
void MainFrame::OnOpenUrl() {
  if (Busy()) return;
}

// Resolve (32772): the host-name resolution dialog.
void MainFrame::OnResolve() { ClearAutoResolve(); }

// Filter (32777): the filter dialog.
void MainFrame::OnFilter() {}

// WhoIs (32786): the whois dialog.
void MainFrame::OnWhois() {}

// Visitor... (32778): the visitor information dialog for the selected session.
void MainFrame::OnVisitor() {}

}  // namespace weavil
