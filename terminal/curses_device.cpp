// The screen on a real terminal, through ncurses. The only file that includes
// <curses.h>: its KEY_* macros would clash with our key codes.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "cp437.h"
#include "device.h"
#include "key_decoder.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <langinfo.h>
#include <term.h>

namespace {

// How long a partial escape sequence may wait for its next byte.
constexpr int SEQUENCE_WAIT_MS = 20;

enum class GlyphKind : unsigned char { wide, line_drawing, ascii };
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

int tty_fd = -1;
FILE* tty_file = nullptr;
SCREEN* term_screen = nullptr;
termios shell_mode;
bool monochrome = false;
short next_pair = 1;
bool base_is_field = false;
short outside_pair = 0;
bool outside_stale = true;
Glyph glyphs[256];
Look looks[256];
KeyDecoder decoder;
unsigned char input[256];
int input_pos = 0;
int input_len = 0;

// What the terminal shows now; a cell with attribute 0xFF... is never drawn by the
// form, so an impossible value marks "unknown" after a full redraw.
Cell shown[SCREEN_ROWS][SCREEN_COLS];
bool notice_up = false;

// Bytes that give the screen back, prepared ahead so that a signal handler can
// write them without curses. Two copies: a handler always finds a whole one.
struct LeaveSequence {
    char bytes[256];
    size_t len;
};

// Signal handlers may only use these.
volatile sig_atomic_t screen_active = 0;
volatile sig_atomic_t pending_resize = 0;
volatile sig_atomic_t pending_stop = 0;
volatile sig_atomic_t pending_continue = 0;
int wake_pipe[2] = {-1, -1};
LeaveSequence leave_sequences[2];
volatile sig_atomic_t leave_current = 0;

constexpr int ENDING_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// A terminfo string, or null where the terminal has none.
const char* capability(const char* name) {
    const char* cap = tigetstr(const_cast<char*>(name));
    return cap == reinterpret_cast<char*>(-1) ? nullptr : cap;
}

// Padding ("$<2>") means something to tputs only; written as it stands it
// would appear on the screen.
void append_without_padding(LeaveSequence& seq, const char* cap) {
    if (cap == nullptr) return;
    for (const char* p = cap; *p != '\0'; ++p) {
        const char* pad_end = p[0] == '$' && p[1] == '<' ? std::strchr(p, '>') : nullptr;
        if (pad_end != nullptr) {
            p = pad_end;
        } else if (seq.len + 1 < sizeof seq.bytes) {
            seq.bytes[seq.len++] = *p;
        }
    }
}

// Redone whenever the size changes: without a screen of our own to leave, the
// cursor goes below the form, as endwin does, so the shell starts on a clean line.
void prepare_leave_sequence() {
    LeaveSequence& seq = leave_sequences[1 - leave_current];
    seq.len = 0;
    append_without_padding(seq, capability("rmacs"));
    append_without_padding(seq, capability("sgr0"));
    append_without_padding(seq, capability("cnorm"));
    const char* rmcup = capability("rmcup");
    const char* cup = capability("cup");
    if (rmcup == nullptr && cup != nullptr) {
        append_without_padding(seq, tiparm(cup, LINES - 1, 0));
        append_without_padding(seq, "\r\n");
    }
    append_without_padding(seq, rmcup);
    leave_current = 1 - leave_current;
}

// Async-signal-safe: puts the terminal back without touching curses state.
// A job in the background leaves the terminal alone: it belongs to the shell
// then, and changing its modes would stop us with SIGTTOU.
void restore_terminal_now() {
    if (!screen_active) return;
    screen_active = 0;
    if (tcgetpgrp(tty_fd) != getpgrp()) return;
    const LeaveSequence& seq = leave_sequences[leave_current];
    ssize_t ignored = write(tty_fd, seq.bytes, seq.len);
    (void)ignored;
    tcsetattr(tty_fd, TCSANOW, &shell_mode);
}

void wake_main_loop() {
    const int saved_errno = errno;
    const char byte = 0;
    ssize_t ignored = write(wake_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved_errno;
}

void on_ending_signal(int sig) {
    restore_terminal_now();
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
}

void on_resize(int) {
    pending_resize = 1;
    wake_main_loop();
}

void on_stop(int) {
    pending_stop = 1;
    wake_main_loop();
}

void on_continue(int) {
    pending_continue = 1;
    wake_main_loop();
}

// SA_RESTART keeps curses' own writes from failing half-way with EINTR; poll
// still returns early, which is what wakes the key loop.
void install(int sig, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

// An ignored signal stays ignored, as under nohup or a shell without job control.
void install_unless_ignored(int sig, void (*handler)(int)) {
    struct sigaction old {};
    sigaction(sig, nullptr, &old);
    if (old.sa_handler != SIG_IGN) install(sig, handler);
}

void install_handlers() {
    for (int sig : ENDING_SIGNALS) install_unless_ignored(sig, on_ending_signal);
    install(SIGWINCH, on_resize);
    install_unless_ignored(SIGTSTP, on_stop);
    install(SIGCONT, on_continue);
}

bool locale_shows(wchar_t wide) {
    char buf[MB_LEN_MAX];
    std::mbstate_t state{};
    return std::wcrtomb(buf, wide, &state) != static_cast<size_t>(-1) && wcwidth(wide) == 1;
}

bool terminal_has_line_drawing(char letter) {
    const char* acsc = tigetstr(const_cast<char*>("acsc"));
    if (acsc == nullptr || acsc == reinterpret_cast<char*>(-1)) return false;
    for (; acsc[0] != '\0' && acsc[1] != '\0'; acsc += 2) {
        if (acsc[0] == letter) return true;
    }
    return false;
}

void choose_glyphs() {
    for (int byte = 0; byte < 256; ++byte) {
        const auto b = static_cast<unsigned char>(byte);
        const auto wide = static_cast<wchar_t>(cp437_to_unicode(b));
        const char line = cp437_line_drawing(b);
        if (locale_shows(wide)) {
            glyphs[byte] = {GlyphKind::wide, wide, 0};
        } else if (line != '\0' && terminal_has_line_drawing(line)) {
            glyphs[byte] = {GlyphKind::line_drawing, 0, line};
        } else {
            glyphs[byte] = {GlyphKind::ascii, 0, cp437_ascii_stand_in(b)};
        }
    }
}

// Input that is not UTF-8 is read through the locale's own single-byte table.
void prepare_decoder() {
    const bool utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    char32_t upper[128] = {};
    for (int i = 0; i < 128; ++i) {
        const char byte = static_cast<char>(0x80 + i);
        wchar_t wide = 0;
        std::mbstate_t state{};
        if (std::mbrtowc(&wide, &byte, 1, &state) == 1) upper[i] = static_cast<char32_t>(wide);
    }
    key_decoder_init(decoder, utf8, upper);
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

// Right of and below the form on a terminal larger than 80x25.
void paint_outside_the_form() {
    if (outside_pair == 0) return;
    const auto blank = ' ' | static_cast<chtype>(COLOR_PAIR(outside_pair));
    for (int row = 0; row < LINES; ++row) {
        for (int col = row < SCREEN_ROWS ? SCREEN_COLS : 0; col < COLS; ++col) {
            mvwaddch(stdscr, row, col, blank);
        }
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

void draw_cell(int row, int col, Cell cell) {
    const Glyph& glyph = glyphs[cell.ch];
    const Look& look = look_of(cell.attr);
    if (glyph.kind == GlyphKind::wide) {
        const wchar_t text[2] = {glyph.wide, L'\0'};
        cchar_t cc;
        setcchar(&cc, text, look.video, look.pair, nullptr);
        mvwadd_wch(stdscr, row, col, &cc);
        return;
    }
    chtype ch = static_cast<unsigned char>(glyph.narrow);
    if (glyph.kind == GlyphKind::line_drawing) ch = NCURSES_ACS(glyph.narrow);
    mvwaddch(stdscr, row, col, ch | look.video | static_cast<chtype>(COLOR_PAIR(look.pair)));
}

void forget_shown() {
    std::memset(shown, 0xFF, sizeof shown);
    outside_stale = true;
    clearok(curscr, TRUE);
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
    wmove(stdscr, LINES > 2 ? 2 : LINES - 1, 0);
    notice_up = true;
}

void refresh_size() {
    winsize size{};
    if (ioctl(tty_fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        resizeterm(size.ws_row, size.ws_col);
    }
    forget_shown();
    prepare_leave_sequence();
}

// Leaves the screen while stopped, as a shell job should, and redraws on return.
void suspend(const Grid& grid) {
    pending_continue = 0;
    endwin();
    screen_active = 0;
    // When the stop went to the whole job, the shell may have taken the
    // terminal back before endwin was done: endwin was then stopped by SIGTTOU
    // and has just been continued by fg. Stopping again would need a second fg.
    if (!pending_continue) {
        signal(SIGTSTP, SIG_DFL);
        raise(SIGTSTP);
        install(SIGTSTP, on_stop);
    }
    // The modes the shell hands back now are the ones to restore at the end,
    // as the operator may have changed them while we were stopped.
    tcgetattr(tty_fd, &shell_mode);
    def_shell_mode();
    screen_active = 1;
    refresh_size();
    device_present(grid);
}

void handle_wakeups(const Grid& grid) {
    char drain[64];
    while (read(wake_pipe[0], drain, sizeof drain) > 0) {
    }
    if (pending_stop) {
        pending_stop = 0;
        suspend(grid);
        pending_continue = 0;  // suspend has redrawn already
    }
    if (pending_resize || pending_continue) {
        pending_resize = 0;
        pending_continue = 0;
        refresh_size();
        device_present(grid);
    }
}

// One row as a plain line in the locale's encoding, trailing blanks dropped.
void write_row_as_text(const Cell (&cells)[SCREEN_COLS]) {
    char line[SCREEN_COLS * MB_LEN_MAX + 1];
    size_t len = 0;
    size_t text_end = 0;
    std::mbstate_t state{};
    for (const Cell& cell : cells) {
        const Glyph& glyph = glyphs[cell.ch];
        if (glyph.kind == GlyphKind::wide) {
            len += std::wcrtomb(line + len, glyph.wide, &state);
        } else {
            line[len++] =
                glyph.kind == GlyphKind::ascii ? glyph.narrow : cp437_ascii_stand_in(cell.ch);
        }
        if (cell.ch != ' ' && cell.ch != 0) text_end = len;
    }
    if (text_end == 0) return;
    line[text_end] = '\n';
    ssize_t ignored = write(tty_fd, line, text_end + 1);
    (void)ignored;
}

// Why TERM cannot show the form, or null. Asked of terminfo before newterm,
// whose failure leaks memory and leaves the terminal's modes changed.
const char* terminal_type_problem() {
    int found = 0;
    if (setupterm(nullptr, tty_fd, &found) != OK || found != 1) {
        return "is not known here; set TERM to the type of your terminal.";
    }
    // Without cursor addressing (TERM=dumb) the form would come out as a
    // stream of text.
    const bool places_cursor = capability("cup") != nullptr;
    del_curterm(cur_term);
    return places_cursor ? nullptr
                         : "cannot place the cursor; the form needs a full-screen terminal.";
}

// Nothing is left to flush, and exit handlers (a sanitizer's leak check among
// them) have been seen to spin forever once the terminal is gone.
[[noreturn]] void terminal_lost(const Grid& grid) {
    device_close(grid, false);
    _exit(EXIT_NO_TERMINAL);
}

}  // namespace

bool device_open(const char** why) {
    static char message[160];
    std::setlocale(LC_ALL, "");
    tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty_fd < 0 || tcgetattr(tty_fd, &shell_mode) != 0) {
        *why =
            "there is no terminal to show the form on (no controlling terminal); "
            "run it from an interactive terminal or an SSH session with a terminal.";
        return false;
    }
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *why = "cannot create a pipe.";
        return false;
    }
    tty_file = fdopen(tty_fd, "r+");
    // Our handlers go in first so that ncurses does not install its own.
    install_handlers();
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0') term = "(unset)";
    if (const char* problem = terminal_type_problem()) {
        std::snprintf(message, sizeof message, "the terminal type TERM=%.40s %s", term, problem);
        *why = message;
        return false;
    }
    term_screen = tty_file != nullptr ? newterm(nullptr, tty_file, tty_file) : nullptr;
    if (term_screen == nullptr) {
        *why = "the terminal cannot be set up.";
        return false;
    }
    set_term(term_screen);
    raw();
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    curs_set(1);
    monochrome = !has_colors() || (std::getenv("NO_COLOR") != nullptr && *std::getenv("NO_COLOR"));
    if (!monochrome) {
        start_color();
        make_field_colours_the_base();
    }
    prepare_leave_sequence();
    choose_glyphs();
    prepare_decoder();
    forget_shown();
    screen_active = 1;
    return true;
}

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
    for (int row = 0; row < SCREEN_ROWS; ++row) {
        for (int col = 0; col < SCREEN_COLS; ++col) {
            if (grid.cells[row][col] == shown[row][col]) continue;
            draw_cell(row, col, grid.cells[row][col]);
            shown[row][col] = grid.cells[row][col];
        }
    }
    if (outside_stale) {
        paint_outside_the_form();
        outside_stale = false;
    }
    const int col =
        grid.cursor_col < 1 ? 1 : (grid.cursor_col > SCREEN_COLS ? SCREEN_COLS : grid.cursor_col);
    const int row =
        grid.cursor_row < 1 ? 1 : (grid.cursor_row > SCREEN_ROWS ? SCREEN_ROWS : grid.cursor_row);
    wmove(stdscr, row - 1, col - 1);
    wrefresh(stdscr);
}

KeyCode device_read_key(const Grid& grid) {
    for (;;) {
        // While the size notice hides the form, keys wait (in the terminal, or
        // here) until the form is back rather than act unseen.
        const bool hold = notice_up;
        // Bytes already read go through the decoder one at a time, so a burst
        // of typing never overruns its small queue.
        while (!hold && input_pos < input_len) {
            key_decoder_feed(decoder, input[input_pos++]);
            if (const KeyCode key = key_decoder_next(decoder)) return key;
        }
        if (!hold) {
            if (const KeyCode key = key_decoder_next(decoder)) return key;
        }
        // Held, the terminal is still watched for a hang-up: poll reports one
        // whatever the events asked for.
        pollfd fds[2] = {{tty_fd, static_cast<short>(hold ? 0 : POLLIN), 0},
                         {wake_pipe[0], POLLIN, 0}};
        const bool waiting = !hold && key_decoder_waiting(decoder);
        const int ready = poll(fds, 2, waiting ? SEQUENCE_WAIT_MS : -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            terminal_lost(grid);
        }
        if (ready == 0) {
            key_decoder_expire(decoder);
            continue;
        }
        if (fds[1].revents != 0) handle_wakeups(grid);
        if (fds[0].revents == 0) continue;
        if (hold) terminal_lost(grid);
        const ssize_t count = read(tty_fd, input, sizeof input);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) terminal_lost(grid);
        input_pos = 0;
        input_len = static_cast<int>(count);
    }
}

void device_close(const Grid& grid, bool keep_text) {
    if (term_screen == nullptr) return;
    // Without a screen of its own to leave (vt100, the Linux console) the
    // terminal keeps what was drawn last: let that be the closing screen, not
    // the form with the closing line written under it.
    const bool stays_visible =
        capability("rmcup") == nullptr && COLS >= SCREEN_COLS && LINES >= SCREEN_ROWS;
    if (keep_text && stays_visible) {
        // The closing screen is ordinary text: in monochrome its attribute's
        // focus look would leave the whole screen in reverse video.
        if (monochrome) {
            looks[ATTR_PLAIN].video = A_NORMAL;
            forget_shown();
        }
        device_present(grid);
    }
    screen_active = 0;
    endwin();
    if (keep_text && !stays_visible) {
        for (int row = 0; row < SCREEN_ROWS; ++row) write_row_as_text(grid.cells[row]);
    }
    for (int sig : {SIGWINCH, SIGTSTP, SIGCONT}) signal(sig, SIG_DFL);
    delscreen(term_screen);
    term_screen = nullptr;
}
