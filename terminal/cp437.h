// Code page 437, the character set of the screen's cells.
#pragma once

// The Unicode glyph of a cell byte; 0 shows as a space, 1..31 and 127 as
// their symbols.
char32_t cp437_to_unicode(unsigned char byte);

// The byte whose glyph the character is (ASCII is itself, ☺ is 1); -1 where
// code page 437 has none.
int unicode_to_cp437(char32_t code);

// A printable ASCII character that looks like the byte's glyph.
char cp437_ascii_stand_in(unsigned char byte);

// The terminal's line-drawing character (its alternate character set letter)
// for shades, blocks and box lines; '\0' for any other byte.
char cp437_line_drawing(unsigned char byte);
