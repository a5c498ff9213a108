#include "check_box.h"

namespace {

void draw_line(int col, int row, const char* label, int state, Attr attr) {
    put_text(col, row, label, attr);
    put_char(col + 2, row, state == 1 ? 'X' : ' ', attr);
}

}  // namespace

FieldResult edit_check_box(int col, int row, const char* label, int state) {
    draw_line(col, row, label, state, ATTR_HIGHLIGHT);
    set_cursor(col + 2, row);
    for (;;) {
        const KeyCode key = get_key();
        if (key == KEY_SPACE) {
            state = state == 1 ? 0 : 1;
            put_char(col + 2, row, state == 1 ? 'X' : ' ', ATTR_HIGHLIGHT);
        } else if (key == KEY_UP || key == KEY_DOWN) {
            draw_line(col, row, label, state, ATTR_BOX);
            if (key == KEY_UP) return state == 1 ? BOX_UP_CHECKED : BOX_UP_CLEAR;
            return state == 1 ? BOX_DOWN_CHECKED : BOX_DOWN_CLEAR;
        }
    }
}
