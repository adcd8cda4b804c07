#include "call/UnansweredMessage.h"

#include <gtest/gtest.h>

namespace talvora {
namespace {

TEST(UnansweredMessage, TextsAPeerWouldReadAsSignalsAreRefused) {
    struct Case {
        const char* message;
        bool usable;
    } cases[] = {
        {"Unanswered", true},   {"Accept", false}, {"Cancel", false},
        {"Calling", false},     {"|", false},      {"Busy | back at 3", false},
        {"Calling|Bob", false}, {"accept", true},  {"Accept ", true},
        {"Cancelled", true},    {"", false},       {"Bin gleich zurück", true}, // empty never arrives
    };
    for (const auto& c : cases) {
        const QString m = QString::fromUtf8(c.message);
        EXPECT_EQ(unansweredMessageProblem(m).isEmpty(), c.usable) << c.message;
        EXPECT_EQ(usableUnansweredMessage(m), c.usable ? m : QStringLiteral("Unanswered")) << c.message;
    }
    EXPECT_TRUE(unansweredMessageProblem("Accept").contains("call signal"));
    EXPECT_TRUE(unansweredMessageProblem("").contains("empty"));
}

} // namespace
} // namespace talvora
