#include <cstdio>
#include <cstdlib>

#include "device.h"

namespace {

Grid grid = {{}, 1, 1};
bool opened = false;

void close_at_exit() {
    close_screen();
}

}  // namespace

const Grid& screen_grid() {
    return grid;
}

void open_screen() {
    if (opened) return;
    const char* why = "there is no terminal to show the form on.";
    if (!device_open(&why)) {
        std::fprintf(stderr, "quenda-setup: %s\n", why);
        std::exit(EXIT_NO_TERMINAL);
    }
    opened = true;
    std::atexit(close_at_exit);
}

void set_cursor(int col, int row) {
    grid.cursor_col = col;
    grid.cursor_row = row;
}

void put_text(int col, int row, const char* text, Attr attr) {
    if (row < 1 || row > SCREEN_ROWS) return;
    for (int c = col; *text != '\0' && c <= SCREEN_COLS; ++c, ++text) {
        if (c >= 1) grid.cells[row - 1][c - 1] = {static_cast<unsigned char>(*text), attr};
    }
}

void put_char(int col, int row, char ch, Attr attr) {
    if (row < 1 || row > SCREEN_ROWS || col < 1 || col > SCREEN_COLS) return;
    grid.cells[row - 1][col - 1] = {static_cast<unsigned char>(ch), attr};
}

KeyCode get_key() {
    device_present(grid);
    return device_read_key(grid);
}

void close_screen(bool keep_text) {
    if (!opened) return;
    opened = false;
    device_close(grid, keep_text);
}
