// A scripted terminal for tests: keys come from a script, the screen is read
// back from the in-memory grid.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "grid.h"

// A script entry that takes no key: it records the screen as get_key sees it.
inline constexpr KeyCode SNAPSHOT = -1;

void script_keys(std::initializer_list<KeyCode> keys);
void script_text(const char* text);  // each byte as its own key
int keys_left();
// The screens recorded at each SNAPSHOT, oldest first.
const std::vector<Grid>& snapshots();
// Whether close_screen reached the device, and with keep_text.
bool screen_was_closed();
bool screen_kept_text();
// Empty script and screen, for a fresh test.
void reset_fake_terminal();

// One row of a grid as the literal tests compare: runs of one attribute as
// {L:text} (N normal, B backdrop, F field, H highlight, T box title, O box,
// P plain, . nothing drawn, ? any other), '^' before the cursor cell, '|' at
// the end; characters as their UTF-8 glyphs.
std::string screen_row(const Grid& grid, int row);
// Every row, one per line.
std::string screen_literal(const Grid& grid);
