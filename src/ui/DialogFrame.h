#pragma once

class QWidget;

namespace talvora {

class RbPanel;

// The face every dialog of the phone wears: the rounded blue panel with a white border 5 wide
// and corners 25 wide, filling the dialog (object name "RbPanel1"). The dialog owns it.
RbPanel* makeDialogPanel(QWidget* dialog);

// Puts a dialog in the middle of the main window it belongs to, or of the screen without one.
void centreOnMainWindow(QWidget* dialog);

} // namespace talvora
