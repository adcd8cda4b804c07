#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>

class QListWidget;
class QToolButton;

namespace talvora {

class AddressBook;
class NetworkSource;
class RbButton;

// The list of computers found on the local network, 655x375, titled "Online Network Clients",
// opened from the address book; while it is open nothing else of the phone takes input. Every
// opening and every "Refresh List" asks the network source for a new snapshot while the search
// progress window stands on top; the walk over it starts once the dialog is on screen and
// finishes when the snapshot is ready, from the event loop. "Add Host Names To List" adds the
// listed hosts that the address book lacks and closes the dialog.
//
// The dialog stays usable while the snapshot is gathered: "Refresh List" and "Add Host Names To
// List" are ignored until the walk ends, and closing abandons it, leaving the list empty. The
// list and the address book therefore never hold part of a walk.
class DiscoveryDialog : public QDialog {
    Q_OBJECT
public:
    DiscoveryDialog(AddressBook& book, NetworkSource& source, QWidget* parent = nullptr);
    ~DiscoveryDialog() override;

    void setProgressWindow(QWidget* progress) { m_progress = progress; }

    // Handlers, also for tests.
    void onRefreshClicked();
    void onAddClicked();

    QStringList lines() const;
    bool walking() const { return m_walking; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Starts a walk: the progress window shows and the source gathers a snapshot.
    void startWalk();
    // The snapshot is ready: the walk lists it and the progress window goes.
    void listNetworkClients();
    void endWalk();

    AddressBook& m_book;
    NetworkSource& m_source;
    QPointer<QWidget> m_progress;
    bool m_walking = false;

    QListWidget* m_list = nullptr;
    QToolButton* m_refresh = nullptr;
    RbButton* m_add = nullptr;
};

} // namespace talvora
