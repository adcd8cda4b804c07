#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QListView;

namespace talvora {

class AddressBook;
class MessageService;
class RbButton;
class RbPanel;

// The address book dialog: borderless, 497x412, centred over the main window and opened modally
// from its address book buttons. It lives for the whole run with its list (the AddressBook
// model); every opening reloads "IPAddress.dat" when it exists, every closing saves it. Picking
// a contact hands its address to `hail` (the main window's address box) and closes the dialog;
// it does not dial.
class AddressBookDialog : public QDialog {
    Q_OBJECT
public:
    AddressBookDialog(QString filePath, MessageService& messages, QWidget* mainWindow = nullptr);
    ~AddressBookDialog() override;

    AddressBook& book() { return *m_book; }
    void setHail(std::function<void(const QString&)> hail) { m_hail = std::move(hail); }
    // The discovery dialog that "Who's Online?" opens modally; null opens nothing.
    void setDiscoveryDialog(QDialog* dialog) { m_discovery = dialog; }

    // Handlers, also for tests.
    void onOpened();
    void onAddClicked();
    void onNameEnter();
    void onDeleteClicked();
    void onClearClicked();
    void onOnlineClicked();
    void onHailClicked();
    // Saves the list; false (after the error box) when the file could not be written.
    bool saveOnClose();

    int selectedRow() const;
    void selectRow(int row);

    // Closing by any way saves first and stays open when the save fails.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* addEdit(const char* objectName, int left);
    RbButton* addButton(const char* objectName, const QString& caption, QRect place);
    void reload();

    QString m_path;
    MessageService& m_messages;
    AddressBook* m_book;
    std::function<void(const QString&)> m_hail;
    QDialog* m_discovery = nullptr;
    // Set when the last load read the file only in part: the file is then kept until the user
    // changes the list.
    bool m_partialLoad = false;

    RbPanel* m_panel = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_addressEdit = nullptr;
    QListView* m_list = nullptr;
};

} // namespace talvora
