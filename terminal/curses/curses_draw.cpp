// What the terminal shows: glyphs for code page 437 in the locale, PC colours
// as curses colour pairs over the terminal's own, the form's changed rows and
// the size notice.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "cp437.h"
#include "curses_internal.h"

namespace tty {

namespace {

enum class GlyphKind : unsigned char { unknown, wide, line_drawing, ascii };
struct Glyph {
    GlyphKind kind;
    wchar_t wide;
    char narrow;
};
struct Look {
    bool known;
    attr_t video;
    short pair;
};

short next_pair = 1;
bool monochrome = false;
bool notice_up = false;
Glyph glyphs[256];
Look looks[256];

// What the terminal shows now; a cell with attribute 0xFF... is never drawn by the
// form, so an impossible value marks "unknown" after a full redraw.
Cell shown[SCREEN_ROWS][SCREEN_COLS];

bool locale_shows(wchar_t wide) {
    char buf[MB_LEN_MAX];
    std::mbstate_t state{};
    return std::wcrtomb(buf, wide, &state) != static_cast<size_t>(-1) && wcwidth(wide) == 1;
}

bool terminal_has_line_drawing(char letter) {
    const char* acsc = capability("acsc");
    if (acsc == nullptr) return false;
    for (; acsc[0] != '\0' && acsc[1] != '\0'; acsc += 2) {
        if (acsc[0] == letter) return true;
    }
    return false;
}

// PC palette order to ANSI order: PC 1 is blue, ANSI 4 is blue, and so on.
constexpr short ANSI_OF_PC[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN,  COLOR_CYAN,
                                 COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};

attr_t monochrome_video(Attr attr) {
    switch (attr) {
        case ATTR_FIELD: return A_UNDERLINE;
        case ATTR_HIGHLIGHT: return A_REVERSE | A_BOLD;
        case ATTR_PLAIN: return A_REVERSE;
        case ATTR_BOX_TITLE: return A_BOLD;
        default: return ((attr >> 4) == 0 ? A_REVERSE : A_NORMAL) | ((attr & 8) ? A_BOLD : 0);
    }
}

struct Colours {
    short fg;
    short bg;
    attr_t video;
};

Colours colours_of(Attr attr) {
    const bool sixteen = COLORS >= 16;
    const int fg = attr & 15;
    const int bg = attr >> 4;
    return {static_cast<short>(ANSI_OF_PC[fg & 7] + (fg >= 8 && sixteen ? 8 : 0)),
            static_cast<short>(ANSI_OF_PC[bg & 7] + (bg >= 8 && sixteen ? 8 : 0)),
            (fg >= 8 && !sixteen) ? A_BOLD : A_NORMAL};
}

const Look& look_of(Attr attr) {
    Look& look = looks[attr];
    if (look.known) return look;
    look.known = true;
    if (monochrome || next_pair >= COLOR_PAIRS) {
        look.video = monochrome_video(attr);
        return look;
    }
    const Colours colours = colours_of(attr);
    look.video = colours.video;
    look.pair = next_pair++;
    init_pair(look.pair, colours.fg, colours.bg);
    return look;
}

// How the locale and the terminal show a cell byte, worked out when the byte
// is first drawn: a form uses few of the 256.
const Glyph& glyph_of(unsigned char byte) {
    Glyph& glyph = glyphs[byte];
    if (glyph.kind != GlyphKind::unknown) return glyph;
    const auto wide = static_cast<wchar_t>(cp437_to_unicode(byte));
    const char line = cp437_line_drawing(byte);
    if (locale_shows(wide)) {
        glyph = {GlyphKind::wide, wide, 0};
    } else if (line != '\0' && terminal_has_line_drawing(line)) {
        glyph = {GlyphKind::line_drawing, 0, line};
    } else {
        glyph = {GlyphKind::ascii, 0, cp437_ascii_stand_in(byte)};
    }
    return glyph;
}

cchar_t curses_cell(Cell cell) {
    const Glyph& glyph = glyph_of(cell.ch);
    const Look& look = look_of(cell.attr);
    wchar_t text[2] = {glyph.wide, L'\0'};
    attr_t video = look.video;
    if (glyph.kind == GlyphKind::line_drawing) {
        const chtype acs = NCURSES_ACS(glyph.narrow);
        text[0] = static_cast<wchar_t>(acs & A_CHARTEXT);
        video |= acs & A_ATTRIBUTES;
    } else if (glyph.kind == GlyphKind::ascii) {
        text[0] = static_cast<unsigned char>(glyph.narrow);
    }
    cchar_t cc;
    setcchar(&cc, text, video, look.pair, nullptr);
    return cc;
}

// A row that differs from what the terminal shows goes to curses whole, in
// one call; ncurses itself sends only the cells that changed.
void draw_row(int row, const Cell (&cells)[SCREEN_COLS]) {
    Cell(&seen)[SCREEN_COLS] = shown[row];
    if (std::memcmp(cells, seen, sizeof seen) == 0) return;
    cchar_t text[SCREEN_COLS];
    for (int col = 0; col < SCREEN_COLS; ++col) text[col] = curses_cell(cells[col]);
    mvwadd_wchnstr(stdscr, row, 0, text, SCREEN_COLS);
    std::memcpy(seen, cells, sizeof seen);
}

// Drawn afresh each time: the size it quotes may have changed. Lines are cut
// to the width so a narrow terminal does not wrap one over the other.
void show_size_notice() {
    werase(stdscr);
    char line[96];
    std::snprintf(line, sizeof line, "quenda-setup needs a terminal of at least %dx%d.",
                  SCREEN_COLS, SCREEN_ROWS);
    mvwaddnstr(stdscr, 0, 0, line, COLS);
    std::snprintf(line, sizeof line, "This one is %dx%d: please enlarge it.", COLS, LINES);
    mvwaddnstr(stdscr, 1, 0, line, COLS);
    mvwaddnstr(stdscr, 2, 0, "Esc or Ctrl+C: leave without saving.", COLS);
    wmove(stdscr, LINES > 3 ? 3 : LINES - 1, 0);
    notice_up = true;
}

// One row as a plain line in the locale's encoding, trailing blanks dropped.
void write_row_as_text(const Cell (&cells)[SCREEN_COLS]) {
    char line[SCREEN_COLS * MB_LEN_MAX + 1];
    size_t len = 0;
    size_t text_end = 0;
    std::mbstate_t state{};
    for (const Cell& cell : cells) {
        const Glyph& glyph = glyph_of(cell.ch);
        if (glyph.kind == GlyphKind::wide && glyph.wide < 0x80) {
            line[len++] = static_cast<char>(glyph.wide);  // ASCII is itself in every locale
        } else if (glyph.kind == GlyphKind::wide) {
            len += std::wcrtomb(line + len, glyph.wide, &state);
        } else {
            line[len++] =
                glyph.kind == GlyphKind::ascii ? glyph.narrow : cp437_ascii_stand_in(cell.ch);
        }
        if (cell.ch != ' ' && cell.ch != 0) text_end = len;
    }
    if (text_end == 0) return;
    line[text_end] = '\n';
    write_to_terminal(line, text_end + 1);
}

}  // namespace

void prepare_colours() {
    const char* no_color = std::getenv("NO_COLOR");
    monochrome = !has_colors() || (no_color != nullptr && *no_color != '\0');
    if (monochrome) return;
    start_color();
    // Pair 0 and every blank curses clears are in the terminal's own colours,
    // so the space outside the form on a larger terminal is the terminal's.
    use_default_colors();
}

void forget_glyphs() {
    std::memset(glyphs, 0, sizeof glyphs);
}

void forget_shown() {
    std::memset(shown, 0xFF, sizeof shown);
    clearok(curscr, TRUE);
}

bool size_notice_shown() {
    return notice_up;
}

void use_plain_look_for_closing() {
    if (!monochrome) return;
    looks[ATTR_PLAIN].video = A_NORMAL;
    forget_shown();
}

void write_rows_as_text(const Grid& grid) {
    for (int row = 0; row < SCREEN_ROWS; ++row) write_row_as_text(grid.cells[row]);
}

}  // namespace tty

using namespace tty;

void device_present(const Grid& grid) {
    if (COLS < SCREEN_COLS || LINES < SCREEN_ROWS) {
        show_size_notice();
        wrefresh(stdscr);
        return;
    }
    if (notice_up) {
        notice_up = false;
        werase(stdscr);
        forget_shown();
    }
    for (int row = 0; row < SCREEN_ROWS; ++row) draw_row(row, grid.cells[row]);
    const int col =
        grid.cursor_col < 1 ? 1 : (grid.cursor_col > SCREEN_COLS ? SCREEN_COLS : grid.cursor_col);
    const int row =
        grid.cursor_row < 1 ? 1 : (grid.cursor_row > SCREEN_ROWS ? SCREEN_ROWS : grid.cursor_row);
    wmove(stdscr, row - 1, col - 1);
    wrefresh(stdscr);
}
