#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>

class QEventLoop;
class QListWidget;
class QToolButton;

namespace talvora {

class AddressBook;
class NetworkSource;
class RbButton;

// The list of computers found on the local network, 655x375, titled "Online Network Clients",
// opened modally from the address book. Every opening and every "Refresh List" walks the network
// source again while the search progress window stands on top; "Add Host Names To List" adds the
// listed hosts that the address book lacks and closes the dialog.
//
// The walk lets pending events run, so a click can arrive in the middle of one: "Refresh List"
// and "Add Host Names To List" are ignored until it ends, and closing abandons it, leaving the
// list empty. The list and the address book therefore never hold part of a walk.
class DiscoveryDialog : public QDialog {
    Q_OBJECT
public:
    DiscoveryDialog(AddressBook& book, NetworkSource& source, QWidget* parent = nullptr);
    ~DiscoveryDialog() override;

    void setProgressWindow(QWidget* progress) { m_progress = progress; }

    // Handlers, also for tests.
    void onShown();
    void onRefreshClicked();
    void onAddClicked();

    QStringList lines() const;
    bool walking() const { return m_walking; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void listNetworkClients();
    // Runs the event loop until the source's snapshot is ready; false when the walk was abandoned.
    bool waitForSnapshot();

    AddressBook& m_book;
    NetworkSource& m_source;
    QPointer<QWidget> m_progress;
    bool m_walking = false;
    bool m_abandoned = false;
    QEventLoop* m_wait = nullptr;

    QListWidget* m_list = nullptr;
    QToolButton* m_refresh = nullptr;
    RbButton* m_add = nullptr;
};

} // namespace talvora
