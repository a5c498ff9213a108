// The editor of one on/off option line.
#pragma once

#include "text_field.h"

// Results: 1 and 2 leave upwards, 3 and 4 downwards; the odd ones mean checked.
inline constexpr FieldResult BOX_UP_CHECKED = 1;
inline constexpr FieldResult BOX_UP_CLEAR = 2;
inline constexpr FieldResult BOX_DOWN_CHECKED = 3;
inline constexpr FieldResult BOX_DOWN_CLEAR = 4;

// Highlights the line (label from col, its mark two cells right of col), flips
// the mark with Space and returns on Up or Down with the direction and the
// final state. state is 1 (checked) or 0.
FieldResult edit_check_box(int col, int row, const char* label, int state);
