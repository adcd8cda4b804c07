#include "support/EventLoop.h"
#include "ui/RbButton.h"
#include "ui/RbPanel.h"
#include "ui/RbSpinEdit.h"
#include "ui/RxDice.h"
#include "ui/WindowDrag.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

#include <set>

namespace talvora {
namespace {

// --- the die ------------------------------------------------------------------------------------

TEST(DieFace, NeverTheFaceOnShow) {
    for (int current = 1; current <= 6; ++current) {
        for (int drawn = 1; drawn <= 6; ++drawn) {
            const int next = nextDieFace(current, drawn);
            EXPECT_NE(next, current) << current << "," << drawn;
            EXPECT_GE(next, 1);
            EXPECT_LE(next, 6);
            if (drawn != current) {
                EXPECT_EQ(next, drawn);
            }
        }
    }
    EXPECT_EQ(nextDieFace(1, 1), 2);
    EXPECT_EQ(nextDieFace(4, 4), 3);
    EXPECT_EQ(nextDieFace(6, 6), 5);
}

TEST(RxDice, ManyTicksNeverRepeatAFaceAndShowAllSix) {
    RxDice dice;
    std::set<int> seen;
    int previous = dice.value();
    dice.setRotate(true);
    for (int i = 0; i < 20000; ++i) {
        dice.tick();
        ASSERT_NE(dice.value(), previous) << "tick " << i;
        seen.insert(dice.value());
        previous = dice.value();
    }
    EXPECT_EQ(seen.size(), 6u);
    dice.setRotate(false);
}

TEST(RxDice, StoppingShowsOneMoreFaceThenStays) {
    RxDice dice;
    int draws = 0;
    dice.setRandomSource([&] {
        ++draws;
        return 3; // always 3: the faces go 3, 2, 3, ...
    });
    EXPECT_EQ(dice.value(), 1);
    EXPECT_FALSE(dice.timerActive());
    dice.setRotate(true);
    EXPECT_TRUE(dice.timerActive());
    dice.tick();
    EXPECT_EQ(dice.value(), 3);
    dice.tick();
    EXPECT_EQ(dice.value(), 2);
    dice.setRotate(false);
    EXPECT_TRUE(dice.timerActive()); // stopping only marks it still
    dice.tick();
    EXPECT_EQ(dice.value(), 3);
    EXPECT_FALSE(dice.timerActive());
    EXPECT_EQ(draws, 3);
}

TEST(RxDice, TurnsOnItsTimerAndStopsAfterOneMoreTick) {
    RxDice dice;
    QSignalSpy faces(&dice, &RxDice::faceChanged);
    dice.setRotate(true);
    dice.setRotate(true); // already rotating: nothing new
    ASSERT_TRUE(test::waitUntil([&] { return faces.count() >= 3; }, 20000));
    dice.setRotate(false);
    const int atStop = faces.count();
    ASSERT_TRUE(test::waitUntil([&] { return !dice.timerActive(); }, 20000));
    EXPECT_EQ(faces.count(), atStop + 1);
    test::pumpEvents(200);
    EXPECT_EQ(faces.count(), atStop + 1);
    EXPECT_EQ(dice.focusPolicy(), Qt::NoFocus);
}

// --- the spin box -------------------------------------------------------------------------------

TEST(RbSpinEdit, TypedTextCountsWithinTheRange) {
    struct Case {
        const char* typed;
        int value;
    } cases[] = {{"7", 7},           {"1", 1},   {"30", 30}, {"0", 1},     {"45", 30},
                 {"-5", 1},          {"abc", 1}, {"", 1},    {" 12 ", 12}, {"99999999999999999999", 1},
                 {"12345678901", 30}};
    for (const auto& c : cases) {
        RbSpinEdit spin;
        spin.setRange(1, 30);
        spin.editor()->setText(c.typed); // bypasses the key filter on purpose
        EXPECT_EQ(spin.value(), c.value) << c.typed;
    }
}

TEST(RbSpinEdit, OutOfRangeTextIsPulledInOnFocusLossAndOnSteps) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* spin = new RbSpinEdit;
    auto* other = new QLineEdit;
    layout->addWidget(spin);
    layout->addWidget(other);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "45");
    EXPECT_EQ(spin->text(), "45"); // typing is free
    other->setFocus();
    EXPECT_EQ(spin->text(), "30");

    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "0");
    spin->stepBy(1);
    EXPECT_EQ(spin->text(), "2"); // 0 counts as 1, one step up

    spin->selectAll();
    QTest::keyClicks(spin, "a7b");
    EXPECT_EQ(spin->text(), "7"); // only digits get in
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->value(), 8);

    spin->setValue(30);
    spin->stepBy(1);
    EXPECT_EQ(spin->text(), "30");
    spin->setValue(-3);
    EXPECT_EQ(spin->text(), "1");
}

// --- the button ---------------------------------------------------------------------------------

TEST(RbButton, EnterAndSpacePressAFocusedButtonAndAClickTakesTheFocus) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new QLineEdit;
    auto* button = new RbButton("Save");
    layout->addWidget(edit);
    layout->addWidget(button);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QSignalSpy clicks(button, &RbButton::clicked);

    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 0);

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_TRUE(button->hasFocus());

    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter);
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(clicks.count(), 4);
    QTest::keyClick(button, Qt::Key_A);
    EXPECT_EQ(clicks.count(), 4);
}

// --- the window move ----------------------------------------------------------------------------

// The window system moves the window where it takes the move over; otherwise, and for buttons it
// cannot follow (X11 ends a move at a left-button release only), the window follows the mouse.
TEST(WindowDrag, AsksTheWindowSystemFirstForTheLeftButton) {
    const struct {
        Qt::MouseButton button;
        bool systemMoves;
        int systemAsked;
        bool manual;
    } cases[] = {{Qt::LeftButton, true, 1, false},
                 {Qt::LeftButton, false, 1, true},
                 {Qt::RightButton, true, 0, true},
                 {Qt::MiddleButton, true, 0, true}};
    for (const auto& c : cases) {
        QWidget window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        int asked = 0;
        WindowDrag drag(&window, [&](QWindow& w) {
            asked += &w == window.windowHandle() ? 1 : 100;
            return c.systemMoves;
        });
        drag.begin(&window, window.mapToGlobal(QPoint(10, 10)), c.button);
        EXPECT_EQ(asked, c.systemAsked) << c.button << c.systemMoves;
        EXPECT_EQ(drag.isManual(), c.manual) << c.button << c.systemMoves;
    }
}

// --- the panel ----------------------------------------------------------------------------------

TEST(RbPanel, PaintsSurroundBorderAndFace) {
    RbPanel panel;
    panel.resize(200, 100);
    panel.setCornerWidth(40);
    panel.setBorderWidth(5);
    panel.setColor(QColor(0, 111, 164));
    panel.setBorderColor(Qt::white);
    panel.setOuterColor(Qt::black);
    panel.setAntialiased(false);
    QImage img(panel.size(), QImage::Format_RGB32);
    panel.render(&img);
    EXPECT_EQ(QColor(img.pixel(0, 0)), QColor(Qt::black));      // outside the rounded corner
    EXPECT_EQ(QColor(img.pixel(2, 50)), QColor(Qt::white));     // the border on the left edge
    EXPECT_EQ(QColor(img.pixel(100, 50)), QColor(0, 111, 164)); // the face
    EXPECT_EQ(QColor(img.pixel(100, 97)), QColor(Qt::white));   // the border at the bottom

    panel.setGradient(QColor(255, 0, 0), QColor(0, 0, 255));
    panel.render(&img);
    const QColor high(img.pixel(100, 10));
    const QColor low(img.pixel(100, 90));
    EXPECT_GT(high.red(), low.red());
    EXPECT_LT(high.blue(), low.blue());
}

} // namespace
} // namespace talvora
