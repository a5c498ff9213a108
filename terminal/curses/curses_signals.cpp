// Signals and job control on the terminal: what an ending signal gives back,
// stops and continues, and a changed window size.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "curses_internal.h"

namespace tty {

namespace {

// Signal handlers touch only what is in this block.
volatile sig_atomic_t screen_active = 0;
volatile sig_atomic_t pending_resize = 0;
volatile sig_atomic_t pending_stop = 0;
volatile sig_atomic_t pending_continue = 0;
int wake_pipe[2] = {-1, -1};
termios shell_mode;  // the modes to give back

// Bytes that give the screen back, prepared ahead so that a signal handler can
// write them without curses. Two copies: a handler always finds a whole one.
struct LeaveSequence {
    char bytes[256];
    size_t len;
};
LeaveSequence leave_sequences[2];
volatile sig_atomic_t leave_current = 0;

// Every signal whose default action ends the program, but SIGPIPE: a write to
// the terminal never raises it, and the disk error's message ignores it.
constexpr int ENDING_SIGNALS[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS, SIGFPE,    SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGSYS, SIGVTALRM, SIGPROF,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

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

// Async-signal-safe: puts the terminal back without touching curses state.
// A job in the background leaves the terminal alone: it belongs to the shell
// then, and changing its modes would stop us with SIGTTOU.
void restore_terminal_now() {
    if (!screen_active) return;
    screen_active = 0;
    if (tcgetpgrp(tty_fd) != getpgrp()) return;
    const sig_atomic_t current = leave_current;
    std::atomic_signal_fence(std::memory_order_acquire);
    const LeaveSequence& seq = leave_sequences[current];
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

// Installed with SA_RESETHAND, so the default action is back here; the raise
// waits until the signal is unblocked after the terminal is given back, and
// then ends the program by this same signal (status 128+n, a core dump where
// one is due).
void on_ending_signal(int sig) {
    restore_terminal_now();
    raise(sig);
    sigset_t self;
    sigemptyset(&self);
    sigaddset(&self, sig);
    sigprocmask(SIG_UNBLOCK, &self, nullptr);
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

bool ignored_at_start(int sig) {
    struct sigaction old {};
    sigaction(sig, nullptr, &old);
    return old.sa_handler == SIG_IGN;
}

// Every signal waits while the terminal is given back: another ending signal
// would run a second handler in the middle of the first, and a second copy of
// this one would end the program before the modes are restored.
void install_ending(int sig) {
    struct sigaction action {};
    action.sa_handler = on_ending_signal;
    action.sa_flags = SA_RESETHAND;
    sigfillset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

}  // namespace

bool remember_shell_modes() {
    return tcgetattr(tty_fd, &shell_mode) == 0;
}

void give_back_shell_modes() {
    tcsetattr(tty_fd, TCSANOW, &shell_mode);
}

// An ignored signal stays ignored, as under nohup or a shell without job control.
bool install_handlers() {
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    for (int sig : ENDING_SIGNALS) {
        if (!ignored_at_start(sig)) install_ending(sig);
    }
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        if (!ignored_at_start(sig)) install_ending(sig);
    }
#endif
    install(SIGWINCH, on_resize);
    if (!ignored_at_start(SIGTSTP)) install(SIGTSTP, on_stop);
    install(SIGCONT, on_continue);
    return true;
}

void screen_taken(bool taken) {
    screen_active = taken ? 1 : 0;
}

int wake_fd() {
    return wake_pipe[0];
}

// Redone whenever the size changes: without a screen of our own to leave, the
// cursor goes below the form, as endwin does, so the shell starts on a clean line.
void prepare_leave_sequence() {
    LeaveSequence& seq = leave_sequences[1 - leave_current];
    seq.len = 0;
    append_without_padding(seq, capability("rmacs"));
    append_without_padding(seq, capability("sgr0"));
    append_without_padding(seq, capability("cnorm"));
    append_without_padding(seq, paste_marking_end());
    const char* rmcup = capability("rmcup");
    const char* cup = capability("cup");
    if (rmcup == nullptr && cup != nullptr) {
        append_without_padding(seq, tiparm(cup, LINES - 1, 0));
        append_without_padding(seq, "\r\n");
    }
    append_without_padding(seq, rmcup);
    // The compiler may not move the writes of the copy past the flip: a
    // handler that sees the flip must find the copy whole.
    std::atomic_signal_fence(std::memory_order_release);
    leave_current = 1 - leave_current;
}

bool terminal_reports_size(int& rows, int& cols) {
    winsize size{};
    if (ioctl(tty_fd, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) return false;
    rows = size.ws_row;
    cols = size.ws_col;
    return true;
}

namespace {

void refresh_size() {
    int rows = 0;
    int cols = 0;
    if (terminal_reports_size(rows, cols)) resizeterm(rows, cols);
    forget_shown();
    prepare_leave_sequence();
}

// Leaves the screen while stopped, as a shell job should, and redraws on return.
void suspend(const Grid& grid) {
    pending_continue = 0;
    mark_pastes(false);
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
    mark_pastes(true);
    refresh_size();
    device_present(grid);
}

}  // namespace

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
        // Continued after a stop we never saw (SIGSTOP): the shell may have
        // put its own modes on the terminal meanwhile. In the background the
        // terminal is not ours to set.
        if (pending_continue && tcgetpgrp(tty_fd) == getpgrp()) {
            reset_prog_mode();
            mark_pastes(true);
        }
        pending_resize = 0;
        pending_continue = 0;
        refresh_size();
        device_present(grid);
    }
}

}  // namespace tty
