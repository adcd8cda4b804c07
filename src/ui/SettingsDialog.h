#pragma once

#include "settings/PhoneSettings.h"
#include "settings/SettingsStore.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace talvora {

class MessageService;
class RbButton;
class RbPanel;
class RbSpinEdit;

// Where the settings the dialog edits live (the phone): read at each opening, and given the
// edited copy once it is saved.
struct SettingsOwner {
    std::function<PhoneSettings()> current;
    std::function<void(const PhoneSettings&)> commit;
};

// Asks the user for a ring tone file: the initial file name and the filter are given; returns the
// chosen file's full path, or nothing when the user cancels.
using RingToneChooser =
    std::function<std::optional<QString>(QWidget* parent, const QString& initialFile, const QString& filter)>;

// The settings dialog: ring tone, ring time, unanswered message and caller ID. Each opening fills
// a copy from the owner's settings; Save writes the four keys through the store and then commits
// the copy to the owner, so a new value takes effect for the next call at once; Close drops the
// edits.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(SettingsStore store, SettingsOwner owner, MessageService& messages,
                   QWidget* mainWindow = nullptr);

    // The video options dialog that "Video Options" opens modally; null opens nothing.
    void setVideoOptionsDialog(QDialog* dialog) { m_videoOptions = dialog; }
    // Replaces the file-open dialog (for tests).
    void setRingToneChooser(RingToneChooser chooser) { m_chooser = std::move(chooser); }

    // The file-open dialog's filter: all supported media first, then each kind alone.
    static QString ringToneFilter();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onOpened();
    void onBrowseClicked();
    void onSaveClicked();
    void onCloseClicked();
    void onVideoOptionsClicked();
    void onRingToneKey();
    void onRingTimeKey();
    void onMessageKey();
    void onCallerIdKey();

    QLabel* addLabel(const char* name, const QString& text, int left, int top);

    SettingsStore m_store;
    SettingsOwner m_owner;
    PhoneSettings m_edited; // the copy being edited
    MessageService& m_messages;
    QDialog* m_videoOptions = nullptr;
    RingToneChooser m_chooser;

    RbPanel* m_panel = nullptr;
    QLabel* m_ringToneLabel = nullptr;
    QLabel* m_ringTimeLabel = nullptr;
    QLabel* m_messageLabel = nullptr;
    QLabel* m_callerIdLabel = nullptr;
    QLineEdit* m_ringToneEdit = nullptr;
    RbButton* m_browseButton = nullptr;
    RbSpinEdit* m_ringTimeSpin = nullptr;
    QLineEdit* m_messageEdit = nullptr;
    QLineEdit* m_callerIdEdit = nullptr;
    QCheckBox* m_privateOnlyBox = nullptr;
    RbButton* m_saveButton = nullptr;
    RbButton* m_closeButton = nullptr;
    RbButton* m_videoOptionsButton = nullptr;
};

} // namespace talvora
