// What the ncurses device's files share: the terminal's descriptor and the
// calls each file offers the others. Only the device's own files include this,
// and with it <curses.h>.
#pragma once

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <term.h>

// Curses names its keys as we name ours; the device never uses its names.
#undef KEY_BACKSPACE
#undef KEY_DOWN
#undef KEY_END
#undef KEY_ENTER
#undef KEY_HOME
#undef KEY_LEFT
#undef KEY_RIGHT
#undef KEY_UP

#include <cstddef>

#include "device.h"

namespace tty {

// The terminal, opened once by device_open and never changed after.
extern int tty_fd;

// A terminfo string, or null where the terminal has none.
const char* capability(const char* name);
// All of the bytes to the terminal, past short writes; a lost terminal shows
// when keys are read.
void write_to_terminal(const char* bytes, size_t len);

// Drawing (curses_draw.cpp).
// Pairs for the PC colours over the terminal's own default colours, or looks
// without colour where there are none or NO_COLOR is set.
void prepare_colours();
// Glyphs are chosen as bytes are first drawn; this forgets any chosen before.
void forget_glyphs();
// The terminal's content is unknown: the next present draws every cell.
void forget_shown();
// Whether the size notice hides the form.
bool size_notice_shown();
// The closing screen is ordinary text, also where the plain look is reverse video.
void use_plain_look_for_closing();
// The grid's non-blank rows as plain lines in the locale's encoding.
void write_rows_as_text(const Grid& grid);

// Signals, job control and size (curses_signals.cpp).
// Reads the shell's modes, the ones to give back; false without a terminal.
bool remember_shell_modes();
void give_back_shell_modes();
// The wake-up pipe and the handlers, before ncurses would put in its own.
bool install_handlers();
// Whether a signal handler has a screen to give back: taken as soon as
// newterm has changed the terminal's modes, given back only once endwin is done.
void screen_taken(bool taken);
// The bytes a signal handler writes to give the terminal back.
void prepare_leave_sequence();
// The size the terminal itself reports; false when it reports none (0x0).
bool terminal_reports_size(int& rows, int& cols);
// The descriptor that becomes readable when a handler has noted something.
int wake_fd();
// Acts on what the signal handlers noted: a stop, a resize, a continue.
void handle_wakeups(const Grid& grid);

// Keys (curses_input.cpp).
void prepare_decoder();
// Asks the terminal to mark pastes where it can and the key decoder knows its
// markers; the bytes that stop it then, else null.
void choose_paste_marking();
const char* paste_marking_end();
// Asks the terminal to mark pastes, or to stop; only where it can.
void mark_pastes(bool on);

// The terminal is gone: gives back what can be given and exits.
[[noreturn]] void terminal_lost(const Grid& grid);

}  // namespace tty
