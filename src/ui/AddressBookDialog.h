#pragma once

#include <QDialog>

namespace talvora {

// The address book dialog: borderless, 497x412, opened modally from the main window's address
// book buttons. Its contents come with the address book.
class AddressBookDialog : public QDialog {
    Q_OBJECT
public:
    explicit AddressBookDialog(QWidget* parent = nullptr);
};

} // namespace talvora
