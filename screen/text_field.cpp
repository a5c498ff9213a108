#include "text_field.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int MAX_WIDTH = 79;
constexpr int KEEP_EDITING = -1;

struct Field {
    char work[MAX_WIDTH + 1];  // the text being edited; the caller's is untouched until we leave
    int length;
    int cursor;  // index where the next character goes
    int width;
    int column;
    int row;
    TextMode mode;
};

// The whole field, text left-justified and the rest blank.
void draw_field_text(const char* text, int width, int column, int row) {
    char line[MAX_WIDTH + 1];
    std::snprintf(line, sizeof line, "%-*s", width, text);
    put_text(column + 1, row, line, ATTR_FIELD);
}

void draw_field_highlight(const char* text, int column, int row) {
    put_text(column + 1, row, text, ATTR_HIGHLIGHT);
}

// p is 1-based, 1 <= p <= strlen(s).
void delete_char_at(char* s, int p) {
    std::memmove(s + p - 1, s + p, std::strlen(s) - static_cast<size_t>(p) + 1);
}

// p is 1-based, 1 <= p <= strlen(s); s must have room for one more character.
void insert_char_at(char* s, int p, char ch) {
    std::memmove(s + p, s + p - 1, std::strlen(s) - static_cast<size_t>(p) + 2);
    s[p - 1] = ch;
}

KeyCode to_upper_nordic(KeyCode ch) {
    if (ch >= 'a' && ch <= 'z') return ch - 32;
    switch (ch) {
        case 0x86: return 0x8F;  // å
        case 0x84: return 0x8E;  // ä
        case 0x94: return 0x99;  // ö
        default: return ch;
    }
}

void redraw(const Field& f) { draw_field_text(f.work, f.width, f.column, f.row); }
void move_cursor(const Field& f) { set_cursor(f.column + 1 + f.cursor, f.row); }

FieldResult leave(const Field& f, char* text, FieldResult result) {
    std::memcpy(text, f.work, static_cast<size_t>(f.length) + 1);
    return result;
}

void enter_character(Field& f, KeyCode ch) {
    if (f.length == f.width) return;
    if (ch > 255 || ch < 1) return;
    if (f.mode == TEXT_UPPER_CASE) ch = to_upper_nordic(ch);
    if (f.mode == TEXT_DIGITS && (ch < '0' || ch > '9')) return;
    if (f.cursor == f.length) {
        f.work[f.length] = static_cast<char>(ch);
        f.work[f.length + 1] = '\0';
    } else {
        insert_char_at(f.work, f.cursor + 1, static_cast<char>(ch));
    }
    ++f.length;
    redraw(f);
    ++f.cursor;
    move_cursor(f);
}

void erase_before_cursor(Field& f) {
    if (f.cursor == f.length) {
        f.work[f.length - 1] = '\0';
    } else {
        delete_char_at(f.work, f.cursor);
    }
    --f.length;
    redraw(f);
    --f.cursor;
    move_cursor(f);
}

// Only printable characters come pasted, so none can act as a key that
// leaves the field.
bool is_pasted_character(KeyCode key) {
    const KeyCode ch = key - KEY_PASTED;
    return ch >= 32 && ch <= 255 && ch != 127;
}

// One key, after the field has been repainted. Returns the result when the key
// leaves the field, KEEP_EDITING otherwise.
FieldResult handle_key(Field& f, char* text, KeyCode key) {
    switch (key) {
        case KEY_UP: return leave(f, text, FIELD_UP);
        case KEY_DOWN: return leave(f, text, FIELD_DOWN);
        case '\\': enter_character(f, '/'); break;
        case KEY_SPACE:
            if (f.cursor > 0) enter_character(f, key);  // never a leading blank
            break;
        case KEY_ESC: break;
        case KEY_BACKSPACE:
            if (f.cursor > 0) erase_before_cursor(f);
            break;
        case KEY_ENTER: return leave(f, text, FIELD_ENTER);
        case KEY_LEFT:
            if (f.cursor > 0) --f.cursor, move_cursor(f);
            break;
        case KEY_RIGHT:
            if (f.cursor < f.length) ++f.cursor, move_cursor(f);
            break;
        case KEY_DELETE:
            if (f.cursor < f.length) delete_char_at(f.work, f.cursor + 1), --f.length, redraw(f);
            break;
        case KEY_HOME: f.cursor = 0, move_cursor(f); break;
        case KEY_END: f.cursor = f.length, move_cursor(f); break;
        default:
            if (is_pasted_character(key)) {
                handle_key(f, text, key - KEY_PASTED);  // as if typed
            } else {
                enter_character(f, key);
            }
            break;
    }
    return KEEP_EDITING;
}

}  // namespace

FieldResult edit_text_field(char* text, int width, TextMode mode, int column, int row) {
    Field f{};
    f.column = column < 0 ? 0 : (column > SCREEN_COLS - 1 ? SCREEN_COLS - 1 : column);
    const int room = SCREEN_COLS - f.column < MAX_WIDTH ? SCREEN_COLS - f.column : MAX_WIDTH;
    // Below 1 the field has no cells: widening it to one would let two bytes into
    // a caller's buffer that only promised width + 1 = 1.
    f.width = width < 0 ? 0 : (width > room ? room : width);
    f.row = row;
    f.mode = mode;

    for (int i = 1; i <= f.width; ++i) put_char(f.column + i, row, ' ', ATTR_FIELD);
    set_cursor(f.column + 1, row);
    f.length = static_cast<int>(strnlen(text, static_cast<size_t>(f.width)));
    std::memcpy(f.work, text, static_cast<size_t>(f.length));
    f.work[f.length] = '\0';
    f.cursor = f.length;
    if (f.length > 0) {
        draw_field_highlight(f.work, f.column, row);
        move_cursor(f);
    }
    for (;;) {
        const KeyCode key = get_key();
        redraw(f);
        const FieldResult result = handle_key(f, text, key);
        if (result != KEEP_EDITING) return result;
    }
}
