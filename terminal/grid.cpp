#include <cstdio>
#include <cstdlib>

#include "device.h"

namespace {

Grid grid = {{}, 1, 1};
bool opened = false;
const char* leave_line = "";
int leave_status = 0;

void close_at_exit() {
    close_screen();
}

// As the form's own closing screens: a blank screen with the line on it.
[[noreturn]] void leave_without_the_form() {
    for (auto& row : grid.cells) {
        for (Cell& cell : row) cell = {' ', ATTR_PLAIN};
    }
    put_text(1, 3, leave_line, ATTR_PLAIN);
    set_cursor(1, 4);
    close_screen(true);
    std::exit(leave_status);
}

}  // namespace

const Grid& screen_grid() {
    return grid;
}

void open_screen(const char* closing_line, int exit_status) {
    if (opened) return;
    leave_line = closing_line;
    leave_status = exit_status;
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
    const KeyCode key = device_read_key(grid);
    if (key == DEVICE_LEAVE) leave_without_the_form();
    return key;
}

void close_screen(bool keep_text) {
    if (!opened) return;
    opened = false;
    device_close(grid, keep_text);
}
