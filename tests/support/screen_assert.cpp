#include "screen_assert.h"

::testing::AssertionResult rows_match(const Grid& grid, int first_row,
                                      const std::vector<std::string>& expected) {
    bool same = true;
    std::string report = "\n";
    for (size_t i = 0; i < expected.size(); ++i) {
        const int row = first_row + static_cast<int>(i);
        const std::string actual = screen_row(grid, row);
        if (actual == expected[i]) {
            report += "  row " + std::to_string(row) + "   " + actual + "\n";
            continue;
        }
        same = false;
        report += "  row " + std::to_string(row) + " - " + expected[i] + "   (expected)\n";
        report += "  row " + std::to_string(row) + " + " + actual + "   (actual)\n";
    }
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << report;
}
