// Turns the bytes a terminal sends into KeyCodes. Pure: no I/O and no clock;
// the caller says when input has gone quiet.
#pragma once

#include "terminal.h"

struct KeyDecoder {
    enum class State { ground, escape, csi, ss3, linux_fkey, utf8 };
    State state;
    bool utf8_input;
    // Unicode of the locale's upper-half bytes where input is not UTF-8; 0 = none.
    char32_t upper_half[128];
    char params[16];  // parameter bytes of the sequence being read
    int params_len;
    bool params_overflow;
    char32_t utf8_code;
    int utf8_need;
    unsigned char utf8_lead;
    KeyCode queue[8];
    int queue_head;
    int queue_count;
};

// upper_half may be null: then bytes 128..255 of a non-UTF-8 locale are dropped.
void key_decoder_init(KeyDecoder& d, bool utf8_input, const char32_t* upper_half);
void key_decoder_feed(KeyDecoder& d, unsigned char byte);
// Input went quiet: a lone ESC becomes Esc, a cut-off sequence KEY_UNKNOWN, a
// cut-off UTF-8 character nothing.
void key_decoder_expire(KeyDecoder& d);
// True while a partial sequence waits for more bytes or for key_decoder_expire.
bool key_decoder_waiting(const KeyDecoder& d);
// The next decoded key, or 0 when there is none yet.
KeyCode key_decoder_next(KeyDecoder& d);
