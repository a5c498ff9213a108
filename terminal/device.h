// The edge between the in-memory screen and a real terminal. One device is
// linked into the program; tests link a scripted one instead.
#pragma once

#include "grid.h"

// False when there is no terminal to show the screen on; *why then says why,
// as a sentence for the operator.
bool device_open(const char** why);

// Makes the terminal show the grid and its cursor.
void device_present(const Grid& grid);

// Blocks until one key is available and returns it, or DEVICE_LEAVE when the
// operator asked to leave where the form is out of reach.
inline constexpr KeyCode DEVICE_LEAVE = -2;
KeyCode device_read_key(const Grid& grid);

// Gives the terminal back. With keep_text, repeats the grid's non-blank rows as
// plain lines afterwards.
void device_close(const Grid& grid, bool keep_text);
