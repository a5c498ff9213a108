// The terminal's lifecycle through ncurses: taking it over, checking that it
// can show the form, and giving it back.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>  // mallopt
#endif

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "curses_internal.h"

namespace tty {

int tty_fd = -1;
int curses_fd = -1;
SCREEN* term_screen = nullptr;
termios shell_mode;
bool monochrome = false;
bool notice_up = false;
bool bracketed_paste = false;

// A terminfo string, or null where the terminal has none.
const char* capability(const char* name) {
    const char* cap = tigetstr(const_cast<char*>(name));
    return cap == reinterpret_cast<char*>(-1) ? nullptr : cap;
}

// Written where curses writes (putp would write to standard output, which may
// be a file), so that at start it goes out with the first frame. It sets a
// mode, so its place among curses' output is free.
void mark_pastes(bool on) {
    if (!bracketed_paste) return;
    static char bytes[64];
    static size_t len;
    len = 0;
    tputs(capability(on ? "BE" : "BD"), 1, [](int ch) {
        if (len < sizeof bytes) bytes[len++] = static_cast<char>(ch);
        return ch;
    });
    ssize_t ignored = write(curses_fd, bytes, len);
    (void)ignored;
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

FILE* tty_file = nullptr;

// newterm fills three windows of rows x cols cells on fresh heap, touching
// every page of them. Mapped by one madvise call they cost less than half of
// the faults taken one by one where faults are dear, as in virtual machines:
// 0.25 ms of the first frame at 80x25 on the benchmark machine. It has to come
// before the first allocation, while the heap can still be made to start that
// large; another allocator (the sanitizers'), another C library or a kernel
// before 5.14 leaves it undone.
void prefault_heap_for_screen(int rows, int cols) {
#if defined(__GLIBC__) && defined(MADV_POPULATE_WRITE)
    constexpr size_t most = 16 * 1024 * 1024;
    const size_t cells = static_cast<size_t>(rows) * static_cast<size_t>(cols);
    if (cells > most / (3 * sizeof(cchar_t))) return;
    // The 64 KiB are ncurses's smaller allocations: terminfo, buffers, hashes.
    const size_t bytes = 3 * cells * sizeof(cchar_t) + 64 * 1024;
    const auto start = reinterpret_cast<uintptr_t>(sbrk(0));
    // Also what the heap keeps whenever it shrinks, for the rest of the run,
    // so that it is not given back before ncurses comes to use it.
    mallopt(M_TOP_PAD, static_cast<int>(bytes));
    // volatile: the compiler would drop an allocation that is only freed.
    void* volatile first_block = malloc(1);
    free(first_block);
    const auto end = reinterpret_cast<uintptr_t>(sbrk(0));
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (start + page - 1) & ~(page - 1);
    if (start == static_cast<uintptr_t>(-1) || end <= first) return;
    madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)rows;
    (void)cols;
#endif
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
    tcsetattr(tty_fd, TCSANOW, &shell_mode);
    return "cannot place the cursor; the form needs a full-screen terminal.";
}

}  // namespace

bool device_open(const char** why) {
    static char message[160];
    tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty_fd < 0 || tcgetattr(tty_fd, &shell_mode) != 0) {
        *why =
            "there is no terminal to show the form on (no controlling terminal); "
            "run it from an interactive terminal or an SSH session with a terminal.";
        return false;
    }
    // The terminal's own size beats a stale LINES or COLUMNS from a shell
    // profile; those still serve where the terminal reports none.
    int rows = SCREEN_ROWS;
    int cols = SCREEN_COLS;
    const bool sized = terminal_reports_size(rows, cols);
    prefault_heap_for_screen(rows, cols);
    // Character classes and encoding are all the program takes from the
    // locale; the other categories would only cost files to open. After the
    // heap is mapped: setlocale allocates, and the mapping needs to come first.
    std::setlocale(LC_CTYPE, "");
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *why = "cannot create a pipe.";
        return false;
    }
    // A descriptor of its own lets a refresh gather ncurses's output in memory.
    curses_fd = fcntl(tty_fd, F_DUPFD_CLOEXEC, 0);
    if (curses_fd < 0) curses_fd = tty_fd;
    tty_file = fdopen(curses_fd, "r+");
    // Our handlers go in first so that ncurses does not install its own.
    install_handlers();
    if (sized) use_tioctl(TRUE);
    term_screen = tty_file != nullptr ? newterm(nullptr, tty_file, tty_file) : nullptr;
    const char* term = std::getenv("TERM");
    if (term == nullptr) term = "(unset)";
    if (*term == '\0') term = "\"\"";
    if (const char* problem = terminal_type_problem()) {
        std::snprintf(message, sizeof message, "the terminal type TERM=%.40s %s", term, problem);
        *why = message;
        return false;
    }
    if (term_screen == nullptr) {
        *why = "the terminal cannot be set up.";
        return false;
    }
    set_term(term_screen);
    // Keys are read here, not through ncurses: no need for it to look for
    // typeahead (and flush early) while it draws.
    typeahead(-1);
    raw();
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    // What ncurses sends while setting up goes out with the first frame.
    const bool gathering = gather_output(true);
    curs_set(1);
    monochrome = !has_colors() || (std::getenv("NO_COLOR") != nullptr && *std::getenv("NO_COLOR"));
    if (!monochrome) {
        start_color();
        make_field_colours_the_base();
    }
    // Pastes marked by the terminal reach the fields as text, never as keys.
    bracketed_paste = capability("BE") != nullptr && capability("BD") != nullptr &&
                      decodes_as_paste_markers(capability("PS"), capability("PE"));
    mark_pastes(true);
    if (gathering) gather_output(false);
    prepare_leave_sequence();
    choose_glyphs();
    prepare_decoder();
    forget_shown();
    screen_active = 1;
    return true;
}

void device_close(const Grid& grid, bool keep_text) {
    if (term_screen == nullptr) return;
    send_gathered_output();
    // Without a screen of its own to leave (vt100, the Linux console) the
    // terminal keeps what was drawn last: let that be the closing screen, not
    // the form with the closing line written under it.
    const bool stays_visible =
        capability("rmcup") == nullptr && COLS >= SCREEN_COLS && LINES >= SCREEN_ROWS;
    if (keep_text && stays_visible) {
        // In monochrome the plain attribute's focus look would leave the whole
        // screen in reverse video.
        use_plain_look_for_closing();
        device_present(grid);
    }
    screen_active = 0;
    mark_pastes(false);
    endwin();
    if (keep_text && !stays_visible) {
        write_rows_as_text(grid);
    }
    for (int sig : {SIGWINCH, SIGTSTP, SIGCONT}) signal(sig, SIG_DFL);
    delscreen(term_screen);
    term_screen = nullptr;
}
