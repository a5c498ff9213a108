// Windows console input records to KeyCodes. Pure: the device reads the
// records, this decides what each one means.
#pragma once

#include <windows.h>

#include "terminal.h"

// The key of the last record fed, and how many times it is still to be given.
struct WinKeys {
    KeyCode code;
    int left;
};

// Takes one input record, dropping whatever the previous one had left. Key-up,
// mouse, focus and size records and Shift, Ctrl or Alt pressed alone give no key.
void win_keys_feed(WinKeys& keys, const INPUT_RECORD& record);

// The next key from the record fed last (a held key gives its code once per
// repeat), or 0 when it has none left.
KeyCode win_keys_next(WinKeys& keys);
