#include "ui/AddressBookDialog.h"

#include "base/Error.h"
#include "base/MessageService.h"
#include "contacts/AddressBook.h"
#include "contacts/AddressBookFile.h"
#include "contacts/ContactEntry.h"
#include "ui/ContactItemDelegate.h"
#include "ui/DialogFrame.h"
#include "ui/RbButton.h"
#include "ui/RbPanel.h"

#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QScreen>
#include <QValidator>

namespace talvora {

namespace {

constexpr int kNameMaxChars = 22;
// The longest address that still makes a line the file's reader takes back, whatever the name:
// a name character is at most three bytes of UTF-8, and " <" and ">" add three.
constexpr qsizetype kAddressMaxBytes = kAddressBookMaxLineBytes - 3 * kNameMaxChars - 3;

// Refuses text longer than a number of UTF-8 bytes, as typed or pasted.
class Utf8LengthValidator final : public QValidator {
public:
    Utf8LengthValidator(qsizetype maxBytes, QObject* parent) : QValidator(parent), m_maxBytes(maxBytes) {}
    State validate(QString& input, int&) const override {
        return input.toUtf8().size() <= m_maxBytes ? Acceptable : Invalid;
    }

private:
    qsizetype m_maxBytes;
};

bool isEnter(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

AddressBookDialog::AddressBookDialog(QString filePath, MessageService& messages, QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::FramelessWindowHint), m_path(std::move(filePath)),
      m_messages(messages), m_book(new AddressBook(this)) {
    setObjectName(QStringLiteral("frmIP"));
    setWindowTitle(QStringLiteral("IP Address Book"));
    setModal(true);
    setFixedSize(497, 412);

    m_panel = makeDialogPanel(this);

    addDialogLabel(m_panel, QStringLiteral("Contact Name"), 14, 13)->setObjectName(QStringLiteral("Label2"));
    addDialogLabel(m_panel, QStringLiteral("Host Name / Hailing Frequency"), 256, 13)
        ->setObjectName(QStringLiteral("Label1"));
    m_nameEdit = addEdit("edtName", 14);
    m_nameEdit->setMaxLength(kNameMaxChars);
    m_addressEdit = addEdit("edtIP", 256);
    // An address the file could not give back is never typed in.
    m_addressEdit->setValidator(new Utf8LengthValidator(kAddressMaxBytes, m_addressEdit));
    // Screen readers name the boxes after the captions over them.
    m_nameEdit->setAccessibleName(QStringLiteral("Contact Name"));
    m_addressEdit->setAccessibleName(QStringLiteral("Host Name / Hailing Frequency"));

    m_list = new QListView(m_panel);
    m_list->setObjectName(QStringLiteral("ListBox1"));
    m_list->setAccessibleName(QStringLiteral("Contacts"));
    m_list->setGeometry(14, 96, 467, 257);
    m_list->setModel(m_book);
    m_list->setItemDelegate(new ContactItemDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setStyleSheet(QStringLiteral("QListView { background: white; }"));
    m_list->setToolTip(QStringLiteral("Double Click to use IP Address"));
    m_list->installEventFilter(this);
    connect(m_list, &QListView::doubleClicked, this, [this] { onHailClicked(); });

    auto* add = addButton("btnAdd", QStringLiteral("Add"), {14, 59, 75, 25});
    auto* clear = addButton("btnDeleteAll", QStringLiteral("Clear List"), {406, 59, 75, 25});
    auto* remove = addButton("btnDelete", QStringLiteral("Delete"), {16, 368, 75, 25});
    auto* online = addButton("btnOnline", QStringLiteral("Who's Online?"), {104, 368, 81, 25});
    auto* hail = addButton("btnInsert", QStringLiteral("Hail Selected Contact"), {200, 368, 193, 25});
    auto* close = addButton("btnClose", QStringLiteral("Close"), {407, 368, 75, 25});
    connect(add, &RbButton::clicked, this, &AddressBookDialog::onAddClicked);
    connect(clear, &RbButton::clicked, this, &AddressBookDialog::onClearClicked);
    connect(remove, &RbButton::clicked, this, &AddressBookDialog::onDeleteClicked);
    connect(online, &RbButton::clicked, this, &AddressBookDialog::onOnlineClicked);
    connect(hail, &RbButton::clicked, this, &AddressBookDialog::onHailClicked);
    connect(close, &RbButton::clicked, this, [this] { done(QDialog::Accepted); });

    QWidget* order[] = {m_list, m_nameEdit, m_addressEdit, add, remove, close, online, clear, hail};
    for (size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

AddressBookDialog::~AddressBookDialog() = default;

QLineEdit* AddressBookDialog::addEdit(const char* objectName, int left) {
    QLineEdit* edit = addDialogEdit(m_panel, QRect(left, 26, 225, 24), this);
    edit->setObjectName(QLatin1String(objectName));
    QFont font = edit->font();
    font.setPixelSize(13);
    edit->setFont(font);
    return edit;
}

RbButton* AddressBookDialog::addButton(const char* objectName, const QString& caption, QRect place) {
    auto* button = new RbButton(caption, m_panel);
    button->setObjectName(QLatin1String(objectName));
    button->setGeometry(place);
    return button;
}

void AddressBookDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        centreOnMainWindow(this);
        // Returning from the discovery dialog is no new opening: this dialog stays shown.
        onOpened();
    }
    QDialog::showEvent(event);
}

void AddressBookDialog::onOpened() {
    reload();
    m_nameEdit->clear();
    m_addressEdit->clear();
    if (m_book->count() > 0) {
        selectRow(0);
    }
    m_list->setFocus();
}

void AddressBookDialog::reload() {
    AddressBookRead read = readAddressBookFile(m_path);
    switch (read.status) {
    case AddressBookRead::Status::Missing:
        return;
    case AddressBookRead::Status::Unreadable:
        m_messages.error(QStringLiteral("Error"), QStringLiteral("File [IPAddress.dat] not Found."));
        return;
    case AddressBookRead::Status::Read:
        break;
    }
    m_book->replace(std::move(read.text.entries));
    m_partialLoad = !read.text.whole();
    if (m_partialLoad) {
        m_messages.error(QStringLiteral("Error"), describeSkipped(m_path, read.text));
    }
}

bool AddressBookDialog::eventFilter(QObject* watched, QEvent* event) {
    if (isEnter(event)) {
        if (watched == m_nameEdit) {
            onNameEnter();
            return true;
        }
        if (watched == m_addressEdit) {
            onAddClicked();
            return true;
        }
        if (watched == m_list) {
            onHailClicked();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AddressBookDialog::keyPressEvent(QKeyEvent* event) {
    // There is no Cancel button: Escape closes nothing.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void AddressBookDialog::onNameEnter() {
    m_addressEdit->setFocus();
}

void AddressBookDialog::onAddClicked() {
    if (m_nameEdit->text().isEmpty() || m_addressEdit->text().isEmpty()) {
        m_messages.information(QStringLiteral("Information"),
                               QStringLiteral("Please enter Contact Name and IP Address."));
        m_nameEdit->setFocus();
        return;
    }
    if (!m_book->canAdd(contactEntry(m_nameEdit->text(), m_addressEdit->text()))) {
        // The file could not give it back: the texts stay for the user to shorten or move.
        m_messages.warning(QStringLiteral("Warning"),
                           QStringLiteral("The address book is full: it holds %1 contacts at most.")
                               .arg(kAddressBookMaxEntries));
        return;
    }
    m_book->addContact(m_nameEdit->text(), m_addressEdit->text());
    m_nameEdit->clear();
    m_addressEdit->clear();
    m_nameEdit->setFocus();
}

void AddressBookDialog::onDeleteClicked() {
    QPointer<AddressBookDialog> self(this);
    m_messages.ask(QStringLiteral("Confirm"), QStringLiteral("Delete selected contact?"), [self](bool yes) {
        if (!self) {
            return;
        }
        // The row is taken at the answer: the box does not stop the list from changing.
        const int row = self->selectedRow();
        if (yes && row >= 0) {
            self->m_book->removeAt(row);
            self->m_list->clearSelection();
        }
        self->m_nameEdit->setFocus();
    });
}

void AddressBookDialog::onClearClicked() {
    m_book->clear();
}

void AddressBookDialog::onOnlineClicked() {
    if (m_discovery != nullptr) {
        openOverEverything(*m_discovery);
    }
}

void AddressBookDialog::onHailClicked() {
    const int row = selectedRow();
    if (row < 0) {
        return;
    }
    try {
        const QString address = hailingAddress(m_book->entries().at(row));
        if (m_hail) {
            m_hail(address);
        }
    } catch (const Error&) {
        m_messages.warning(QStringLiteral("Warning"), QStringLiteral("Wrong Address Format."));
        return;
    }
    done(QDialog::Accepted);
}

bool AddressBookDialog::saveOnClose() {
    // A file read only in part is kept as it is until the user changes the list.
    if (m_partialLoad && !m_book->changed()) {
        return true;
    }
    if (!writeAddressBookFile(m_path, m_book->entries())) {
        showStandardError(m_messages,
                          QStringLiteral("Cannot create file %1").arg(QDir::toNativeSeparators(m_path)));
        return false;
    }
    m_book->markSaved();
    m_partialLoad = false;
    return true;
}

void AddressBookDialog::done(int result) {
    if (!saveOnClose()) {
        return;
    }
    QDialog::done(result);
}

int AddressBookDialog::selectedRow() const {
    const QModelIndexList selected = m_list->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void AddressBookDialog::selectRow(int row) {
    m_list->setCurrentIndex(m_book->index(row));
}

} // namespace talvora
