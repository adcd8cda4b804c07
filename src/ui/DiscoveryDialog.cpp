#include "ui/DiscoveryDialog.h"

#include "contacts/AddressBook.h"
#include "contacts/DiscoveryWalk.h"
#include "contacts/NetworkSource.h"
#include "ui/RbButton.h"
#include "ui/RbPanel.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGraphicsDropShadowEffect>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QShowEvent>
#include <QToolButton>

namespace talvora {

namespace {

constexpr int kLineHeight = 19;
const QColor kCaptionBlue(0, 111, 164);

void letEventsRun() {
    QCoreApplication::processEvents();
}

} // namespace

DiscoveryDialog::DiscoveryDialog(AddressBook& book, NetworkSource& source, QWidget* parent)
    : QDialog(parent), m_book(book), m_source(source) {
    setObjectName(QStringLiteral("frmNetworkClients"));
    setWindowTitle(QStringLiteral("Online Network Clients"));
    setFixedSize(655, 375);

    auto* panel = new RbPanel(this);
    panel->setObjectName(QStringLiteral("RbPanel1"));
    panel->setGeometry(rect());
    panel->setColor(Qt::white);
    panel->setBorderColor(QColor(192, 192, 192));
    panel->setOuterColor(palette().color(QPalette::Window));
    panel->setCornerWidth(25);
    panel->setBorderWidth(7);

    auto* caption = new QLabel(QStringLiteral("Network clients that are currently online:"), panel);
    QFont captionFont(QStringLiteral("Arial"));
    captionFont.setPixelSize(21);
    captionFont.setBold(true);
    caption->setFont(captionFont);
    caption->setStyleSheet(QStringLiteral("color: rgb(0, 111, 164); background: transparent;"));
    auto* shadow = new QGraphicsDropShadowEffect(caption);
    shadow->setColor(Qt::white);
    shadow->setOffset(1, 1);
    shadow->setBlurRadius(0);
    caption->setGraphicsEffect(shadow);
    caption->adjustSize();
    caption->move((width() - caption->width()) / 2, 10);

    m_refresh = new QToolButton(panel);
    m_refresh->setObjectName(QStringLiteral("SpeedButton1"));
    m_refresh->setGeometry(536, 10, 23, 22);
    m_refresh->setAutoRaise(true);
    m_refresh->setIcon(QIcon(QStringLiteral(":/icons/refresh.svg")));
    m_refresh->setIconSize(QSize(16, 16));
    m_refresh->setToolTip(QStringLiteral("Refresh List"));
    m_refresh->setAccessibleName(m_refresh->toolTip());
    connect(m_refresh, &QToolButton::clicked, this, &DiscoveryDialog::onRefreshClicked);

    m_list = new QListWidget(panel);
    m_list->setObjectName(QStringLiteral("ListBox1"));
    m_list->setAccessibleName(QStringLiteral("Network clients that are currently online"));
    m_list->setGeometry(16, 40, 623, 289);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    QFont listFont(QStringLiteral("Arial"));
    listFont.setPixelSize(16);
    listFont.setBold(true);
    m_list->setFont(listFont);
    m_list->setStyleSheet(QStringLiteral("QListWidget { color: rgb(0, 128, 192); background: white; }"));

    m_add = new RbButton(QStringLiteral("Add Host Names To List"), panel);
    m_add->setObjectName(QStringLiteral("btnAdd"));
    m_add->setGeometry(24, 336, 137, 25);
    connect(m_add, &RbButton::clicked, this, &DiscoveryDialog::onAddClicked);
}

DiscoveryDialog::~DiscoveryDialog() {
    m_source.cancel();
}

void DiscoveryDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        if (const QScreen* s = screen()) {
            move(s->availableGeometry().center() - rect().center());
        }
        onShown();
    }
    QDialog::showEvent(event);
}

QStringList DiscoveryDialog::lines() const {
    QStringList out;
    for (int i = 0; i < m_list->count(); ++i) {
        out << m_list->item(i)->text();
    }
    return out;
}

void DiscoveryDialog::onShown() {
    if (m_walking) {
        return; // a walk is running further up the stack
    }
    m_walking = true;
    m_abandoned = false;
    struct Clear {
        bool& flag;
        ~Clear() { flag = false; }
    } clear{m_walking};
    letEventsRun();
    if (m_progress) {
        m_progress->show();
    }
    letEventsRun();
    m_list->setUpdatesEnabled(false);
    m_list->clear();
    listNetworkClients();
    letEventsRun();
    m_list->setUpdatesEnabled(true);
    if (m_progress) {
        m_progress->hide();
    }
    letEventsRun();
}

void DiscoveryDialog::listNetworkClients() {
    if (!waitForSnapshot()) {
        return;
    }
    const QStringList found = walkNetwork(m_source, kResourceTypeDisk, kDisplayTypeServer, letEventsRun,
                                          [this] { return !m_abandoned; });
    if (m_abandoned) {
        return;
    }
    for (const QString& line : found) {
        auto* item = new QListWidgetItem(line, m_list);
        item->setSizeHint(QSize(0, kLineHeight));
    }
}

bool DiscoveryDialog::waitForSnapshot() {
    if (m_abandoned) {
        return false;
    }
    QEventLoop wait;
    bool ready = false;
    m_wait = &wait;
    m_source.refresh([&ready, &wait] {
        ready = true;
        wait.quit();
    });
    if (!ready && !m_abandoned) {
        wait.exec();
    }
    m_wait = nullptr;
    return ready && !m_abandoned;
}

void DiscoveryDialog::onRefreshClicked() {
    onShown();
}

void DiscoveryDialog::onAddClicked() {
    if (m_walking) {
        return;
    }
    addListedHosts(lines(), m_book);
    done(QDialog::Accepted);
}

void DiscoveryDialog::done(int result) {
    if (m_walking) {
        // Closing in the middle of a walk abandons it; what it found so far is dropped.
        m_abandoned = true;
        m_source.cancel();
        if (m_wait != nullptr) {
            m_wait->quit();
        }
    }
    QDialog::done(result);
}

} // namespace talvora
