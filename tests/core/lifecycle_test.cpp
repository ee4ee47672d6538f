#include "core/lifecycle.h"

#include <gtest/gtest.h>

namespace {

struct PriorityCase {
    QString text;
    bool known;
    int nice;
};

class PriorityTest : public ::testing::TestWithParam<PriorityCase> {};

// The priority setting as a nice value; any other text changes nothing.
TEST_P(PriorityTest, NiceValues) {
    int nice = 1234;
    EXPECT_EQ(priorityNice(GetParam().text, &nice), GetParam().known);
    if (GetParam().known) {
        EXPECT_EQ(nice, GetParam().nice);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Priorities, PriorityTest,
    ::testing::Values(PriorityCase{QStringLiteral("IDLE"), true, 19}, PriorityCase{QStringLiteral("NORMAL"), true, 0},
                      PriorityCase{QStringLiteral("HIGH"), true, -10}, PriorityCase{QStringLiteral("high"), false, 0},
                      PriorityCase{QStringLiteral("REALTIME"), false, 0}, PriorityCase{QString(), false, 0}));

} // namespace
