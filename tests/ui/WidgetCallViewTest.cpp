#include "ui/WidgetCallView.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace talvora {
namespace {

TEST(WidgetCallView, ReachesTheMainWindowsControls) {
    QWidget main;
    auto* layout = new QVBoxLayout(&main);
    auto* host = new QLineEdit(hostPlaceholderText());
    auto* other = new QLineEdit;
    auto* caller = new QLabel;
    layout->addWidget(host);
    layout->addWidget(other);
    layout->addWidget(caller);
    int idle = 0;
    QString destination;
    WidgetCallView window(
        CallViewControls{&main, host, caller, [&] { ++idle; }, [&](const QString& h) { destination = h; }});
    main.show();
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));

    EXPECT_EQ(window.hostText(), "Hailing Frequency...");
    window.setHostText("10.0.0.2");
    EXPECT_EQ(host->text(), "10.0.0.2");
    window.setCallerLine("Bob hailing...");
    EXPECT_EQ(caller->text(), "Bob hailing...");
    window.showIdlePicture();
    EXPECT_EQ(idle, 1);
    window.setVideoDestination("10.0.0.2");
    EXPECT_EQ(destination, "10.0.0.2");
    window.flashTaskbar(); // no window manager here: nothing visible, and nothing breaks

    other->setFocus();
    window.focusHost();
    EXPECT_TRUE(host->hasFocus());
    other->setFocus();
    host->setEnabled(false);
    window.focusHost(); // a disabled field cannot take the focus
    EXPECT_TRUE(other->hasFocus());
}

} // namespace
} // namespace talvora
