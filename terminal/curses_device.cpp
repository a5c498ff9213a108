// The screen on a real terminal, through ncurses. The only file that includes
// <curses.h>: its KEY_* macros would clash with our key codes.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <initializer_list>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "cp437.h"
#include "device.h"
#include "key_decoder.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <langinfo.h>
#include <term.h>

namespace {

// How long a partial escape sequence may wait for its next byte.
constexpr int SEQUENCE_WAIT_MS = 25;

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

// Signal handlers may only use these.
volatile sig_atomic_t screen_active = 0;
volatile sig_atomic_t pending_resize = 0;
volatile sig_atomic_t pending_stop = 0;
volatile sig_atomic_t pending_continue = 0;
int wake_pipe[2] = {-1, -1};
char leave_sequence[256];
size_t leave_sequence_len = 0;

constexpr int ENDING_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

void append_cap(const char* name) {
    char* cap = tigetstr(const_cast<char*>(name));
    if (cap == nullptr || cap == reinterpret_cast<char*>(-1)) return;
    const size_t len = std::strlen(cap);
    if (leave_sequence_len + len >= sizeof leave_sequence) return;
    std::memcpy(leave_sequence + leave_sequence_len, cap, len);
    leave_sequence_len += len;
}

// Async-signal-safe: puts the terminal back without touching curses state.
void restore_terminal_now() {
    if (!screen_active) return;
    screen_active = 0;
    ssize_t ignored = write(tty_fd, leave_sequence, leave_sequence_len);
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

void install(int sig, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

void install_handlers() {
    for (int sig : ENDING_SIGNALS) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        // An ignored signal stays ignored, as under nohup.
        if (old.sa_handler != SIG_IGN) install(sig, on_ending_signal);
    }
    install(SIGWINCH, on_resize);
    install(SIGTSTP, on_stop);
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

const Look& look_of(Attr attr) {
    Look& look = looks[attr];
    if (look.known) return look;
    look.known = true;
    if (monochrome || next_pair >= COLOR_PAIRS) {
        look.video = monochrome_video(attr);
        return look;
    }
    const bool sixteen = COLORS >= 16;
    const int fg = attr & 15;
    const int bg = attr >> 4;
    const auto fg_colour = static_cast<short>(ANSI_OF_PC[fg & 7] + (fg >= 8 && sixteen ? 8 : 0));
    const auto bg_colour = static_cast<short>(ANSI_OF_PC[bg & 7] + (bg >= 8 && sixteen ? 8 : 0));
    look.video = (fg >= 8 && !sixteen) ? A_BOLD : A_NORMAL;
    look.pair = next_pair++;
    init_pair(look.pair, fg_colour, bg_colour);
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
    clearok(curscr, TRUE);
}

void show_size_notice() {
    werase(stdscr);
    mvwaddstr(stdscr, 0, 0, "quenda-setup needs a terminal of at least 80x25.");
    char line[64];
    std::snprintf(line, sizeof line, "This one is %dx%d: please enlarge it.", COLS, LINES);
    mvwaddstr(stdscr, 1, 0, line);
    wmove(stdscr, 2, 0);
    notice_up = true;
}

void refresh_size() {
    winsize size{};
    if (ioctl(tty_fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        resizeterm(size.ws_row, size.ws_col);
    }
    forget_shown();
}

// Leaves the screen while stopped, as a shell job should, and redraws on return.
void suspend(const Grid& grid) {
    endwin();
    screen_active = 0;
    signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP);
    install(SIGTSTP, on_stop);
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
        pending_continue = 0;
        suspend(grid);
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
            line[len++] = glyph.kind == GlyphKind::ascii ? glyph.narrow : cp437_ascii_stand_in(cell.ch);
        }
        if (cell.ch != ' ' && cell.ch != 0) text_end = len;
    }
    if (text_end == 0) return;
    line[text_end] = '\n';
    ssize_t ignored = write(tty_fd, line, text_end + 1);
    (void)ignored;
}

[[noreturn]] void terminal_lost(const Grid& grid) {
    device_close(grid, false);
    std::exit(EXIT_NO_TERMINAL);
}

}  // namespace

bool device_open(const char** why) {
    std::setlocale(LC_ALL, "");
    tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty_fd < 0 || tcgetattr(tty_fd, &shell_mode) != 0) {
        *why = "no controlling terminal";
        return false;
    }
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *why = "cannot create a pipe";
        return false;
    }
    tty_file = fdopen(tty_fd, "r+");
    // Our handlers go in first so that ncurses does not install its own.
    install_handlers();
    term_screen = tty_file != nullptr ? newterm(nullptr, tty_file, tty_file) : nullptr;
    if (term_screen == nullptr) {
        *why = "the terminal type in TERM is unknown";
        return false;
    }
    set_term(term_screen);
    raw();
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    curs_set(1);
    monochrome = !has_colors() || (std::getenv("NO_COLOR") != nullptr && *std::getenv("NO_COLOR"));
    if (!monochrome) start_color();
    append_cap("sgr0");
    append_cap("cnorm");
    append_cap("rmcup");
    choose_glyphs();
    prepare_decoder();
    forget_shown();
    screen_active = 1;
    return true;
}

void device_present(const Grid& grid) {
    if (COLS < SCREEN_COLS || LINES < SCREEN_ROWS) {
        if (!notice_up) show_size_notice();
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
    const int col = grid.cursor_col < 1 ? 1 : (grid.cursor_col > SCREEN_COLS ? SCREEN_COLS : grid.cursor_col);
    const int row = grid.cursor_row < 1 ? 1 : (grid.cursor_row > SCREEN_ROWS ? SCREEN_ROWS : grid.cursor_row);
    wmove(stdscr, row - 1, col - 1);
    wrefresh(stdscr);
}

KeyCode device_read_key(const Grid& grid) {
    for (;;) {
        // Bytes already read go through the decoder one at a time, so a burst
        // of typing never overruns its small queue.
        while (input_pos < input_len) {
            key_decoder_feed(decoder, input[input_pos++]);
            if (const KeyCode key = key_decoder_next(decoder)) return key;
        }
        if (const KeyCode key = key_decoder_next(decoder)) return key;
        pollfd fds[2] = {{tty_fd, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
        const int ready = poll(fds, 2, key_decoder_waiting(decoder) ? SEQUENCE_WAIT_MS : -1);
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
        const ssize_t count = read(tty_fd, input, sizeof input);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) terminal_lost(grid);
        input_pos = 0;
        input_len = static_cast<int>(count);
    }
}

void device_close(const Grid& grid, bool keep_text) {
    if (term_screen == nullptr) return;
    screen_active = 0;
    endwin();
    if (keep_text) {
        for (int row = 0; row < SCREEN_ROWS; ++row) write_row_as_text(grid.cells[row]);
    }
    for (int sig : {SIGWINCH, SIGTSTP, SIGCONT}) signal(sig, SIG_DFL);
    delscreen(term_screen);
    term_screen = nullptr;
}
