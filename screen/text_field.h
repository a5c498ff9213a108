// The one-line editor of a directory field.
#pragma once

#include "terminal.h"

// What an editor tells the focus cycle when it gives the keyboard back.
using FieldResult = int;
// The input filter of a text field.
using TextMode = int;

inline constexpr TextMode TEXT_AS_TYPED = 0;
inline constexpr TextMode TEXT_UPPER_CASE = 1;
inline constexpr TextMode TEXT_DIGITS = 2;

inline constexpr FieldResult FIELD_ENTER = 0;
inline constexpr FieldResult FIELD_UP = 2;
inline constexpr FieldResult FIELD_DOWN = 3;

// Edits text in the field whose cells are columns column+1 .. column+width of
// row, until Enter, Up or Down; each of them first stores the edited text
// (at most width characters) into text and returns FIELD_ENTER, FIELD_UP or
// FIELD_DOWN. text must hold width+1 bytes. A width above 79, or one that
// would run past column 80, is narrowed to fit; below 1 the field has no cells.
FieldResult edit_text_field(char* text, int width, TextMode mode, int column, int row);
