#include "ui/DiscoveryDialog.h"

#include "contacts/AddressBook.h"
#include "contacts/DiscoveryWalk.h"
#include "contacts/NetworkSource.h"
#include "ui/RbButton.h"
#include "ui/RbPanel.h"

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
        // The walk starts once the dialog is on screen, so that it is modal by then and the
        // progress window stands over it.
        QMetaObject::invokeMethod(this, &DiscoveryDialog::startWalk, Qt::QueuedConnection);
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

void DiscoveryDialog::startWalk() {
    if (m_walking || !isVisible()) {
        return; // one walk at a time; a dialog closed before its walk began walks nothing
    }
    m_walking = true;
    if (m_progress) {
        m_progress->show();
    }
    m_list->clear();
    // `ready` may run before refresh() returns: m_walking is set by then.
    m_source.refresh([this] { listNetworkClients(); });
}

void DiscoveryDialog::listNetworkClients() {
    if (!m_walking) {
        return;
    }
    m_list->setUpdatesEnabled(false);
    for (const QString& line : walkNetwork(m_source, kResourceTypeDisk, kDisplayTypeServer)) {
        auto* item = new QListWidgetItem(line, m_list);
        item->setSizeHint(QSize(0, kLineHeight));
    }
    m_list->setUpdatesEnabled(true);
    endWalk();
}

void DiscoveryDialog::endWalk() {
    m_walking = false;
    if (m_progress) {
        m_progress->hide();
    }
}

void DiscoveryDialog::onRefreshClicked() {
    startWalk();
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
        // Closing in the middle of a walk abandons it: its snapshot never arrives.
        m_source.cancel();
        m_list->clear();
        endWalk();
    }
    QDialog::done(result);
}

} // namespace talvora
