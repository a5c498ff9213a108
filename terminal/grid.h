// The in-memory screen that drawing writes into and the device shows.
#pragma once

#include "terminal.h"

struct Cell {
    unsigned char ch;
    Attr attr;
    friend bool operator==(const Cell&, const Cell&) = default;
};

struct Grid {
    Cell cells[SCREEN_ROWS][SCREEN_COLS];
    int cursor_col;  // 1-based, as last given to set_cursor
    int cursor_row;
};

// The one process-wide screen.
const Grid& screen_grid();
