// What the terminal shows: glyphs for code page 437 in the locale, PC colours
// as curses colour pairs, the form's changed cells run by run, the size notice,
// and each refresh in one write.
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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
bool base_is_field = false;
short outside_pair = 0;
bool outside_stale = true;
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

Colours base_colours{};

Colours colours_of(Attr attr) {
    const bool sixteen = COLORS >= 16;
    const int fg = attr & 15;
    const int bg = attr >> 4;
    return {static_cast<short>(ANSI_OF_PC[fg & 7] + (fg >= 8 && sixteen ? 8 : 0)),
            static_cast<short>(ANSI_OF_PC[bg & 7] + (bg >= 8 && sixteen ? 8 : 0)),
            (fg >= 8 && !sixteen) ? A_BOLD : A_NORMAL};
}

// Right of and below the form on a terminal larger than 80x25.
void paint_outside_the_form() {
    if (outside_pair == 0) return;
    const auto blank = ' ' | static_cast<chtype>(COLOR_PAIR(outside_pair));
    for (int row = 0; row < LINES; ++row) {
        const int col = row < SCREEN_ROWS ? SCREEN_COLS : 0;
        if (col < COLS) mvwhline(stdscr, row, col, blank, COLS - col);
    }
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
    if (base_is_field && colours.fg == base_colours.fg && colours.bg == base_colours.bg) {
        look.pair = 0;
        return look;
    }
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

// Cells that differ from what the terminal shows, handed to curses a run at a
// time: a run of one cell repeated (the backdrop) as a line of it, other
// cells as a string, rather than one call per cell.
void draw_row(int row, const Cell (&cells)[SCREEN_COLS]) {
    Cell(&seen)[SCREEN_COLS] = shown[row];
    if (std::memcmp(cells, seen, sizeof seen) == 0) return;
    cchar_t text[SCREEN_COLS];
    int text_start = 0;
    int text_len = 0;
    auto put_text_run = [&] {
        if (text_len > 0) mvwadd_wchnstr(stdscr, row, text_start, text, text_len);
        text_len = 0;
    };
    for (int col = 0; col < SCREEN_COLS;) {
        if (cells[col] == seen[col]) {
            put_text_run();
            ++col;
            continue;
        }
        int end = col + 1;
        while (end < SCREEN_COLS && cells[end] == cells[col] && !(cells[end] == seen[end])) ++end;
        const cchar_t cc = curses_cell(cells[col]);
        if (end - col >= 3) {
            put_text_run();
            mvwhline_set(stdscr, row, col, &cc, end - col);
        } else {
            if (text_len == 0) text_start = col;
            for (int i = col; i < end; ++i) text[text_len++] = cc;
        }
        for (; col < end; ++col) seen[col] = cells[col];
    }
    put_text_run();
}

int frame_file = -2;  // -2 not made yet, -1 cannot be made
// realloc rather than a container: the program needs no C++ runtime library,
// whose loading alone would cost more than all of its drawing.
char* frame_bytes = nullptr;
size_t frame_capacity = 0;

void refresh_in_one_write() {
    // After endwin the refresh sets the terminal's modes first, which takes
    // the terminal itself.
    if (isendwin() || !gather_output(true)) {
        send_gathered_output();
        wrefresh(stdscr);
        return;
    }
    wrefresh(stdscr);
    gather_output(false);
    send_gathered_output();
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

void write_to_terminal(const char* bytes, size_t len) {
    while (len > 0) {
        const ssize_t done = write(tty_fd, bytes, len);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return;  // a lost terminal shows when keys are read
        bytes += done;
        len -= static_cast<size_t>(done);
    }
}

// Glyphs are chosen as bytes are first drawn (glyph_of); this forgets any
// chosen before.
void choose_glyphs() {
    std::memset(glyphs, 0, sizeof glyphs);
}

// ncurses goes back to pair 0 after every update. With pair 0 in the text
// field's colours, a character typed into a field costs one byte on the wire
// instead of an attribute change there and back. The terminal's own colours
// are then out of reach (-1 means the field's too), so space outside the form
// on a larger terminal is painted grey on black, as a console's would be.
void make_field_colours_the_base() {
    const Colours field = colours_of(ATTR_FIELD);
    if (assume_default_colors(field.fg, field.bg) != OK) return;
    base_colours = field;
    base_is_field = true;
    const short outside = next_pair++;
    if (init_pair(outside, COLOR_WHITE, COLOR_BLACK) == OK) outside_pair = outside;
}

// ncurses 6.4 hands a refresh to the terminal in pieces: it flushes at every
// cursor move until the first endwin, and whenever (LINES+2)*(COLS+6) bytes
// wait. Over a network each piece may travel as a packet of its own. So
// ncurses's descriptor points at a file in memory while it draws, and what
// gathered there goes to the terminal in one write.
bool gather_output(bool in_memory) {
    if (!in_memory) {
        while (dup2(tty_fd, curses_fd) < 0 && (errno == EINTR || errno == EBUSY)) {
        }
        return true;
    }
    if (frame_file == -2) frame_file = memfd_create("quenda-setup-frame", MFD_CLOEXEC);
    return frame_file >= 0 && curses_fd != tty_fd && dup2(frame_file, curses_fd) >= 0;
}

void send_gathered_output() {
    const off_t size = frame_file >= 0 ? lseek(frame_file, 0, SEEK_CUR) : 0;
    if (size <= 0) return;
    const auto want = static_cast<size_t>(size);
    if (frame_capacity < want) {
        if (void* grown = std::realloc(frame_bytes, want)) {
            frame_bytes = static_cast<char*>(grown);
            frame_capacity = want;
        }
    }
    // Short of memory, the frame goes out in pieces.
    char spare[4096];
    char* buffer = frame_capacity > 0 ? frame_bytes : spare;
    const size_t room = frame_capacity > 0 ? frame_capacity : sizeof spare;
    for (size_t done = 0; done < want;) {
        const ssize_t got =
            pread(frame_file, buffer, std::min(room, want - done), static_cast<off_t>(done));
        if (got <= 0) break;
        write_to_terminal(buffer, static_cast<size_t>(got));
        done += static_cast<size_t>(got);
    }
    lseek(frame_file, 0, SEEK_SET);
}

void forget_shown() {
    std::memset(shown, 0xFF, sizeof shown);
    outside_stale = true;
    clearok(curscr, TRUE);
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
        refresh_in_one_write();
        return;
    }
    if (notice_up) {
        notice_up = false;
        werase(stdscr);
        forget_shown();
    }
    for (int row = 0; row < SCREEN_ROWS; ++row) draw_row(row, grid.cells[row]);
    if (outside_stale) {
        paint_outside_the_form();
        outside_stale = false;
    }
    const int col =
        grid.cursor_col < 1 ? 1 : (grid.cursor_col > SCREEN_COLS ? SCREEN_COLS : grid.cursor_col);
    const int row =
        grid.cursor_row < 1 ? 1 : (grid.cursor_row > SCREEN_ROWS ? SCREEN_ROWS : grid.cursor_row);
    wmove(stdscr, row - 1, col - 1);
    refresh_in_one_write();
}
