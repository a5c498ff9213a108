// Turns the bytes a terminal sends into KeyCodes. Pure: no I/O and no clock;
// the caller says when input has gone quiet.
#pragma once

#include "terminal.h"

// A terminal string (OSC, DCS, APC, PM, SOS) whose end never comes gives the
// keyboard back after this many bytes.
inline constexpr int KEY_DECODER_STRING_LIMIT = 4096;
// A paste delivers this many bytes at most; the rest of it, up to its end or
// until input goes quiet, is dropped so that it never spills over the form.
inline constexpr int KEY_DECODER_PASTE_LIMIT = 65536;

// A typed code page 437 symbol whose byte is a control code (♥ 3, § 0x15)
// comes out as KEY_TYPED_SYMBOL + the byte, so that no reader takes it for the
// control key (♥ for Ctrl+C at the size notice); the form gets the byte, by
// key_for_form. The symbols of Backspace, line feed, Enter and Esc (◘ ◙ ♪ ←)
// are dropped: a field would read them as those keys.
inline constexpr KeyCode KEY_TYPED_SYMBOL = 0x2000;

inline KeyCode key_for_form(KeyCode key) {
    return key > KEY_TYPED_SYMBOL ? key - KEY_TYPED_SYMBOL : key;
}

struct KeyDecoder {
    enum class State { ground, escape, csi, ss3, linux_fkey, utf8, string, string_escape, mouse };
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
    int string_len;  // bytes of the terminal string being swallowed
    int mouse_left;  // bytes of a mouse report still to come
    bool in_paste;   // between paste start and paste end
    int paste_len;
    bool paste_overflow;  // past the bound: the rest of the paste is dropped
    KeyCode queue[8];
    int queue_head;
    int queue_count;
};

// upper_half may be null: then bytes 128..255 of a non-UTF-8 locale are dropped.
void key_decoder_init(KeyDecoder& d, bool utf8_input, const char32_t* upper_half);
void key_decoder_feed(KeyDecoder& d, unsigned char byte);
// Input went quiet: a lone ESC becomes Esc, a cut-off sequence KEY_UNKNOWN, a
// cut-off UTF-8 character, terminal string or mouse report nothing; a paste
// whose end has not come is over.
void key_decoder_expire(KeyDecoder& d);
// True while a partial sequence waits for more bytes or for key_decoder_expire.
bool key_decoder_waiting(const KeyDecoder& d);
// True between a paste's start and its end. Its characters come out as
// KEY_PASTED + the character, its symbols as typed; its control keys and other
// keys not at all.
bool key_decoder_in_paste(const KeyDecoder& d);
// True inside a terminal string or mouse report: as in a paste, its bytes may
// come in pieces over a slow link, so quiet should be waited for longer.
bool key_decoder_in_report(const KeyDecoder& d);
// The next decoded key, or 0 when there is none yet.
KeyCode key_decoder_next(KeyDecoder& d);
