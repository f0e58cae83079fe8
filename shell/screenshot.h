#pragma once
// The hidden --screenshot-dir mode: loads every report, selects a row on each tab that
// fills the right pane (charts, visit details), writes a PNG of the window for each,
// then quits. Used to document the program and to check its look without a person.
#include <QPalette>

#include <string>

namespace weavil {

class MainFrame;

void StartScreenshots(MainFrame& frame, const std::string& dir);

// A dark palette as desktops with a dark theme hand to Qt programs.
QPalette DarkDesktopPalette();

}  // namespace weavil
