// Screen assertions that read like the screen.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_terminal.h"

// Compares rows first_row.. of the grid with the literals; on a mismatch
// prints both, marking the rows that differ.
::testing::AssertionResult rows_match(const Grid& grid, int first_row,
                                      const std::vector<std::string>& expected);

#define EXPECT_ROWS(first_row, ...) \
    EXPECT_TRUE(rows_match(screen_grid(), (first_row), {__VA_ARGS__}))
#define EXPECT_SNAPSHOT_ROWS(grid, first_row, ...) \
    EXPECT_TRUE(rows_match((grid), (first_row), {__VA_ARGS__}))
