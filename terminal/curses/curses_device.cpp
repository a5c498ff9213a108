// One implementation of device.h: the terminal through ncurses. This file
// holds its lifecycle: taking the terminal over, checking that it can show the
// form, and giving it back.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "curses_internal.h"

namespace tty {

int tty_fd = -1;

const char* capability(const char* name) {
    const char* cap = tigetstr(const_cast<char*>(name));
    return cap == reinterpret_cast<char*>(-1) ? nullptr : cap;
}

void write_to_terminal(const char* bytes, size_t len) {
    while (len > 0) {
        const ssize_t done = write(tty_fd, bytes, len);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return;  // a lost terminal shows when keys are read
        bytes += done;
        len -= static_cast<size_t>(done);
    }
}

// Nothing is left to flush, and exit handlers (a sanitizer's leak check among
// them) have been seen to spin forever once the terminal is gone.
[[noreturn]] void terminal_lost(const Grid& grid) {
    device_close(grid, false);
    _exit(EXIT_NO_TERMINAL);
}

}  // namespace tty

using namespace tty;

namespace {

SCREEN* term_screen = nullptr;

bool open_terminal(const char** why) {
    tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty_fd >= 0 && remember_shell_modes()) return true;
    *why =
        "there is no terminal to show the form on (no controlling terminal); "
        "run it from an interactive terminal or an SSH session with a terminal.";
    return false;
}

// Why TERM cannot show the form, or null, asked of the entry newterm read.
// Only when newterm failed is terminfo read again, to tell an unknown type
// from other trouble.
const char* terminal_type_problem() {
    if (term_screen == nullptr) {
        int found = 0;
        if (setupterm(nullptr, tty_fd, &found) != OK || found != 1) {
            return "is not known here; set TERM to the type of your terminal.";
        }
        del_curterm(cur_term);
        return nullptr;
    }
    // Without cursor addressing (TERM=dumb) the form would come out as a
    // stream of text.
    if (capability("cup") != nullptr) return nullptr;
    delscreen(term_screen);
    term_screen = nullptr;
    // newterm has put the terminal in its own modes already.
    give_back_shell_modes();
    return "cannot place the cursor; the form needs a full-screen terminal.";
}

// terminfo is read once, here; our signal handlers go in first so that
// ncurses does not install its own.
bool start_curses(const char** why) {
    static char message[160];
    // Character classes and encoding are all the program takes from the
    // locale; the other categories would only cost files to open.
    std::setlocale(LC_CTYPE, "");
    if (!install_handlers()) {
        *why = "cannot create a pipe.";
        return false;
    }
    // The terminal's own size beats a stale LINES or COLUMNS from a shell
    // profile; those still serve where the terminal reports none.
    int rows = 0;
    int cols = 0;
    if (terminal_reports_size(rows, cols)) use_tioctl(TRUE);
    FILE* tty_file = fdopen(tty_fd, "r+");
    term_screen = tty_file != nullptr ? newterm(nullptr, tty_file, tty_file) : nullptr;
    const char* term = std::getenv("TERM");
    if (term == nullptr) term = "(unset)";
    if (*term == '\0') term = "\"\"";
    if (const char* problem = terminal_type_problem()) {
        std::snprintf(message, sizeof message, "the terminal type TERM=%.40s %s", term, problem);
        *why = message;
        return false;
    }
    if (term_screen == nullptr) *why = "the terminal cannot be set up.";
    return term_screen != nullptr;
}

void set_modes() {
    set_term(term_screen);
    // Keys are read here, not through ncurses: no need for it to look for
    // typeahead (and flush early) while it draws.
    typeahead(-1);
    raw();
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    curs_set(1);
}

}  // namespace

bool device_open(const char** why) {
    if (!open_terminal(why) || !start_curses(why)) return false;
    // newterm has changed the terminal's modes: from here on a signal must
    // find the way back ready.
    choose_paste_marking();
    prepare_leave_sequence();
    screen_taken(true);
    set_modes();
    prepare_colours();
    mark_pastes(true);
    forget_glyphs();
    prepare_decoder();
    forget_shown();
    return true;
}

void device_close(const Grid& grid, bool keep_text) {
    if (term_screen == nullptr) return;
    // Without a screen of its own to leave (vt100, the Linux console) the
    // terminal keeps what was drawn last: let that be the closing screen, not
    // the form with the closing line written under it.
    const bool stays_visible =
        capability("rmcup") == nullptr && COLS >= SCREEN_COLS && LINES >= SCREEN_ROWS;
    if (keep_text && stays_visible) {
        use_plain_look_for_closing();
        device_present(grid);
    }
    mark_pastes(false);
    endwin();
    // Only now: a signal while endwin works must still find a screen to give back.
    screen_taken(false);
    if (keep_text && !stays_visible) write_rows_as_text(grid);
    for (int sig : {SIGWINCH, SIGTSTP, SIGCONT}) signal(sig, SIG_DFL);
    delscreen(term_screen);
    term_screen = nullptr;
}
