#include "base/MessageService.h"

#include <gtest/gtest.h>

namespace talvora {
namespace {

TEST(StandardErrorText, AppendsFullStopOnlyAfterCharactersSortingAfterDot) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"Host not found", "Host not found."},
        {"Done.", "Done."},
        {"Really!", "Really!"},      // '!' sorts before '.'
        {"Port 6767", "Port 6767."}, // digits sort after '.'
        {"(busy)", "(busy)"},        // ')' sorts before '.'
        {"path/", "path/."},         // '/' sorts right after '.'
        {"", ""},
        {"Fertig ü", "Fertig ü."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(standardErrorText(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
    }
}

} // namespace
} // namespace talvora
