// What the ncurses device's files share: the terminal, its modes and the
// state that signal handlers may touch. Only the device's own files include
// this (and with it <curses.h>, whose KEY_* macros clash with our key codes).
#pragma once

#include <termios.h>

#include <csignal>
#include <cstdio>

#include "device.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <term.h>

namespace tty {

extern int tty_fd;
extern int curses_fd;  // ncurses's own descriptor for the terminal
extern SCREEN* term_screen;
extern termios shell_mode;  // the modes to give back
extern bool monochrome;
extern bool notice_up;        // the size notice hides the form
extern bool bracketed_paste;  // the terminal marks pastes for us

// Signal handlers may only use these.
extern volatile sig_atomic_t screen_active;
extern volatile sig_atomic_t pending_resize;
extern volatile sig_atomic_t pending_stop;
extern volatile sig_atomic_t pending_continue;
extern int wake_pipe[2];

// A terminfo string, or null where the terminal has none.
const char* capability(const char* name);
// Asks the terminal to mark pastes, or to stop; only where it can.
void mark_pastes(bool on);

// Drawing (curses_draw.cpp).
// Points ncurses's output at a file in memory (true; false where there is none)
// or back at the terminal. send_gathered_output writes what gathered, at once.
bool gather_output(bool in_memory);
void send_gathered_output();
// All of the bytes to the terminal, past short writes; a lost terminal shows
// when keys are read.
void write_to_terminal(const char* bytes, size_t len);
void choose_glyphs();
void make_field_colours_the_base();
// The terminal's content is unknown: the next present draws every cell.
void forget_shown();
// The closing screen is ordinary text, also where the plain look is reverse video.
void use_plain_look_for_closing();
// The grid's non-blank rows as plain lines in the locale's encoding.
void write_rows_as_text(const Grid& grid);

// Signals, job control and size (curses_signals.cpp).
void install_handlers();
// The bytes a signal handler writes to give the terminal back.
void prepare_leave_sequence();
// The size the terminal itself reports; false when it reports none (0x0).
bool terminal_reports_size(int& rows, int& cols);
void refresh_size();
// Acts on what the signal handlers noted: a stop, a resize, a continue.
void handle_wakeups(const Grid& grid);

// Keys (curses_input.cpp).
void prepare_decoder();
// Whether these strings are a paste's start and end to the key decoder.
bool decodes_as_paste_markers(const char* start, const char* end);

// The terminal is gone: gives back what can be given and exits.
[[noreturn]] void terminal_lost(const Grid& grid);

}  // namespace tty
