#pragma once
// The two process-wide view requests. Any thread may raise them; the main window's
// idle handler lowers them: a reset clears every report view and the charts, a reload
// fills the views again.

namespace weavil {

void RaiseResetViews();
void RaiseReloadViews();

// Lowers the flag and tells whether it was raised.
bool TakeResetViews();
bool TakeReloadViews();

// Looks without lowering.
bool ResetViewsRaised();
bool ReloadViewsRaised();

}  // namespace weavil
