#pragma once

class QDialog;
class QLabel;
class QLineEdit;
class QObject;
class QRect;
class QString;
class QWidget;

namespace talvora {

class RbPanel;

// The face every dialog of the phone wears: the rounded blue panel with a white border 5 wide
// and corners 25 wide, filling the dialog (object name "RbPanel1"). The dialog owns it.
RbPanel* makeDialogPanel(QWidget* dialog);

// A caption on the panel, bold white 11-pixel type at (left, top), as wide as its text.
QLabel* addDialogLabel(QWidget* panel, const QString& text, int left, int top);

// An edit box on the panel, black on white, whose events `keyFilter` sees first (the dialogs
// walk on with Enter).
QLineEdit* addDialogEdit(QWidget* panel, const QRect& place, QObject* keyFilter);

// Puts a dialog in the middle of the main window it belongs to, or of the screen without one.
void centreOnMainWindow(QWidget* dialog);

// Shows a dialog that every other window of the phone waits for (also one opened from another
// dialog), and returns at once: what follows its closing runs from its finished() signal.
void openOverEverything(QDialog& dialog);

} // namespace talvora
