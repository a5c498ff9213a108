#include "fake_terminal.h"

#include <cstdio>
#include <cstdlib>
#include <deque>

#include "cp437.h"
#include "device.h"

namespace {

std::deque<KeyCode> script;
std::vector<Grid> recorded;
bool closed = false;
bool kept_text = false;

char attr_letter(Attr attr) {
    switch (attr) {
        case ATTR_NORMAL: return 'N';
        case ATTR_BACKDROP: return 'B';
        case ATTR_FIELD: return 'F';
        case ATTR_HIGHLIGHT: return 'H';
        case ATTR_BOX_TITLE: return 'T';
        case ATTR_BOX: return 'O';
        case ATTR_PLAIN: return 'P';
        case 0: return '.';
        default: return '?';
    }
}

void append_utf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

void script_keys(std::initializer_list<KeyCode> keys) { script.insert(script.end(), keys); }

void script_text(const char* text) {
    for (; *text != '\0'; ++text) script.push_back(static_cast<unsigned char>(*text));
}

int keys_left() { return static_cast<int>(script.size()); }
const std::vector<Grid>& snapshots() { return recorded; }
bool screen_was_closed() { return closed; }
bool screen_kept_text() { return kept_text; }

void reset_fake_terminal() {
    close_screen();
    script.clear();
    recorded.clear();
    closed = false;
    kept_text = false;
    for (int row = 1; row <= SCREEN_ROWS; ++row) {
        for (int col = 1; col <= SCREEN_COLS; ++col) put_char(col, row, '\0', 0);
    }
    set_cursor(1, 1);
}

std::string screen_row(const Grid& grid, int row) {
    std::string out;
    int run_attr = -1;
    for (int col = 1; col <= SCREEN_COLS; ++col) {
        const Cell& cell = grid.cells[row - 1][col - 1];
        if (cell.attr != run_attr) {
            if (run_attr >= 0) out += '}';
            out += '{';
            out += attr_letter(cell.attr);
            out += ':';
            run_attr = cell.attr;
        }
        if (grid.cursor_row == row && grid.cursor_col == col) out += '^';
        append_utf8(out, cp437_to_unicode(cell.ch));
    }
    out += '}';
    if (grid.cursor_row == row && grid.cursor_col == SCREEN_COLS + 1) out += '^';
    return out + '|';
}

std::string screen_literal(const Grid& grid) {
    std::string out;
    for (int row = 1; row <= SCREEN_ROWS; ++row) out += screen_row(grid, row) + '\n';
    return out;
}

// The device edge, scripted.

bool device_open(const char**) { return true; }

void device_present(const Grid&) {}

KeyCode device_read_key(const Grid& grid) {
    while (!script.empty() && script.front() == SNAPSHOT) {
        recorded.push_back(grid);
        script.pop_front();
    }
    if (script.empty()) {
        // Fail loudly rather than wait for a key that never comes.
        std::fprintf(stderr, "key script ran out; the screen was:\n%s", screen_literal(grid).c_str());
        std::abort();
    }
    const KeyCode key = script.front();
    script.pop_front();
    return key;
}

void device_close(const Grid&, bool keep_text) {
    closed = true;
    kept_text = keep_text;
}
