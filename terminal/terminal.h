// The private 80x25 screen and the keyboard. Everything above this layer speaks
// in 1-based columns and rows, PC colour attributes and KeyCodes.
#pragma once

#include <cstdint>

using KeyCode = int;
using Attr = std::uint8_t;

inline constexpr int SCREEN_COLS = 80;
inline constexpr int SCREEN_ROWS = 25;

// Characters are their own code 1..255; keys without a character are 255 plus
// their PC scan code.
inline constexpr KeyCode KEY_BACKSPACE = 8;
inline constexpr KeyCode KEY_TAB = 9;
inline constexpr KeyCode KEY_ENTER = 13;
inline constexpr KeyCode KEY_ESC = 27;
inline constexpr KeyCode KEY_SPACE = 32;
inline constexpr KeyCode KEY_F1 = 255 + 59;
inline constexpr KeyCode KEY_F10 = 255 + 68;
inline constexpr KeyCode KEY_HOME = 255 + 71;
inline constexpr KeyCode KEY_UP = 255 + 72;
inline constexpr KeyCode KEY_PAGE_UP = 255 + 73;
inline constexpr KeyCode KEY_LEFT = 255 + 75;
inline constexpr KeyCode KEY_RIGHT = 255 + 77;
inline constexpr KeyCode KEY_END = 255 + 79;
inline constexpr KeyCode KEY_DOWN = 255 + 80;
inline constexpr KeyCode KEY_PAGE_DOWN = 255 + 81;
inline constexpr KeyCode KEY_INSERT = 255 + 82;
inline constexpr KeyCode KEY_DELETE = 255 + 83;
inline constexpr KeyCode KEY_F11 = 255 + 87;
inline constexpr KeyCode KEY_F12 = 255 + 88;
inline constexpr KeyCode KEY_PAD_ENTER = 255 + 28;
inline constexpr KeyCode KEY_PAD_SLASH = 255 + 53;
// A key or sequence we recognise as one key but have no code for; no field acts on it.
inline constexpr KeyCode KEY_UNKNOWN = 255 + 256;
// A character that came in a paste, not from a key: KEY_PASTED plus the
// character (32..255). No field takes it for a key; a text field enters it.
inline constexpr KeyCode KEY_PASTED = 0x1000;

// Background in the high nibble, foreground in the low one, PC text palette.
inline constexpr Attr ATTR_NORMAL = 0x70;
inline constexpr Attr ATTR_BACKDROP = 0x71;
inline constexpr Attr ATTR_FIELD = 0x1F;
inline constexpr Attr ATTR_BOX_TITLE = 0x2F;
inline constexpr Attr ATTR_BOX = 0x30;
inline constexpr Attr ATTR_HIGHLIGHT = 0x3F;
inline constexpr Attr ATTR_PLAIN = 0x07;

// Exit status when no usable terminal exists, at start or later.
inline constexpr int EXIT_NO_TERMINAL = 3;

// Takes over the terminal. Without one, prints a message on standard error and
// exits with EXIT_NO_TERMINAL. While the terminal is too small for the form,
// Esc or Ctrl+C is the way out the caller names: the screen closes showing
// closing_line, and the program exits with exit_status.
void open_screen(const char* closing_line, int exit_status);

// Moves the cursor; nothing is drawn.
void set_cursor(int col, int row);

// Writes the bytes of text from (col, row) rightwards and gives exactly those
// cells attr. The cursor does not move; cells past the text keep what they had.
// Cells past column 80 or outside rows 1..25 are dropped.
void put_text(int col, int row, const char* text, Attr attr);
void put_char(int col, int row, char ch, Attr attr);

// Shows the screen, then waits for one key.
KeyCode get_key();

// Gives the terminal back as it was. With keep_text, the screen's non-blank
// rows are then written to the terminal as plain lines so a closing message
// stays readable. Safe to call more than once.
void close_screen(bool keep_text = false);
