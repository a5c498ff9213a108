#include "key_decoder.h"

#include <cstring>

#include "cp437.h"

namespace {

using State = KeyDecoder::State;

// What the paste markers decode to; they end in the decoder, never in the queue.
constexpr KeyCode PASTE_START = KEY_UNKNOWN + 1;
constexpr KeyCode PASTE_END = KEY_UNKNOWN + 2;

void emit(KeyDecoder& d, KeyCode key) {
    if (key == PASTE_START || key == PASTE_END) {
        if (key == PASTE_START && !d.in_paste) d.paste_len = 0, d.paste_overflow = false;
        d.in_paste = key == PASTE_START;
        return;
    }
    if (d.in_paste) {
        // Pasted text is characters alone: nothing in it may act as a key.
        const bool character = key >= 32 && key <= 255 && key != 127;
        if (d.paste_overflow || !(character || key > KEY_TYPED_SYMBOL)) return;
        if (character) key += KEY_PASTED;
    }
    if (d.queue_count == static_cast<int>(sizeof d.queue / sizeof d.queue[0])) return;
    d.queue[(d.queue_head + d.queue_count) % 8] = key;
    ++d.queue_count;
}

void start_sequence(KeyDecoder& d, State state) {
    d.state = state;
    d.params_len = 0;
    d.params_overflow = false;
}

// The numbers of a parameter string such as "1;5": up to two; absent ones are -1.
void parse_params(const KeyDecoder& d, int& first, int& second) {
    first = second = -1;
    int* target = &first;
    for (int i = 0; i < d.params_len; ++i) {
        const char c = d.params[i];
        if (c == ';') {
            if (target == &second) return;
            target = &second;
        } else if (c >= '0' && c <= '9') {
            *target = (*target < 0 ? 0 : *target) * 10 + (c - '0');
            if (*target > 9999) *target = 9999;
        }
    }
}

bool has_private_marker(const KeyDecoder& d) {
    for (int i = 0; i < d.params_len; ++i) {
        if (d.params[i] < '0' || d.params[i] > ';') return true;
    }
    return false;
}

// Cursor and editing keys shared by CSI and SS3 forms; 0 when not one of them.
KeyCode cursor_key(char final_byte) {
    switch (final_byte) {
        case 'A': return KEY_UP;
        case 'B': return KEY_DOWN;
        case 'C': return KEY_RIGHT;
        case 'D': return KEY_LEFT;
        case 'H': return KEY_HOME;
        case 'F': return KEY_END;
        default: return 0;
    }
}

KeyCode tilde_key(int number) {
    switch (number) {
        case 1:
        case 7: return KEY_HOME;
        case 4:
        case 8: return KEY_END;
        case 2: return KEY_INSERT;
        case 3: return KEY_DELETE;
        case 5: return KEY_PAGE_UP;
        case 6: return KEY_PAGE_DOWN;
        case 23: return KEY_F11;
        case 24: return KEY_F12;
        case 200: return PASTE_START;
        case 201: return PASTE_END;
        default:
            if (number >= 11 && number <= 15) return KEY_F1 + number - 11;
            if (number >= 17 && number <= 21) return KEY_F1 + 5 + number - 17;
            return KEY_UNKNOWN;
    }
}

// Shift alone still means the key; other modifiers make a key no field acts on.
bool plain_or_shift(int modifier) {
    return modifier < 0 || modifier == 1 || modifier == 2;
}

KeyCode resolve_csi(const KeyDecoder& d, char final_byte) {
    if (d.params_overflow || has_private_marker(d)) return KEY_UNKNOWN;
    int first = 0;
    int modifier = 0;
    parse_params(d, first, modifier);
    if (!plain_or_shift(modifier)) return KEY_UNKNOWN;
    if (final_byte == '~') return tilde_key(first);
    const KeyCode key = cursor_key(final_byte);
    if (key == 0 || !(first < 0 || first == 1)) return KEY_UNKNOWN;
    return key;
}

KeyCode resolve_ss3(const KeyDecoder& d, char final_byte) {
    int first = 0;
    int modifier = 0;
    parse_params(d, first, modifier);
    if (d.params_overflow || !plain_or_shift(modifier)) return KEY_UNKNOWN;
    if (const KeyCode key = cursor_key(final_byte)) return key;
    // The numeric keypad in application mode: each key is its label. Enter
    // is the one Enter key, whether a terminal sends it as CR, LF or this.
    if (final_byte >= 'p' && final_byte <= 'y') return '0' + (final_byte - 'p');
    switch (final_byte) {
        case 'M': return KEY_ENTER;
        case 'o': return '/';
        case 'j': return '*';
        case 'k': return '+';
        case 'l': return ',';
        case 'm': return '-';
        case 'n': return '.';
        case 'X': return '=';
        case 'P':
        case 'Q':
        case 'R':
        case 'S': return KEY_F1 + (final_byte - 'P');
        default: return KEY_UNKNOWN;
    }
}

void feed_ground(KeyDecoder& d, unsigned char byte);

// A character beyond ASCII, typed or pasted, by its Unicode code point. Only
// ASCII bytes themselves may be control keys.
void emit_typed(KeyDecoder& d, char32_t code) {
    const int byte = code < 0x80 ? -1 : unicode_to_cp437(code);
    if (byte < 0 || byte == KEY_BACKSPACE || byte == '\n' || byte == KEY_ENTER || byte == KEY_ESC)
        return;
    emit(d, byte < 0x20 || byte == 0x7F ? KEY_TYPED_SYMBOL + byte : byte);
}

void feed_utf8_lead(KeyDecoder& d, unsigned char byte) {
    if (byte >= 0xC2 && byte <= 0xDF) {
        d.utf8_need = 1;
        d.utf8_code = byte & 0x1Fu;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
        d.utf8_need = 2;
        d.utf8_code = byte & 0x0Fu;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
        d.utf8_need = 3;
        d.utf8_code = byte & 0x07u;
    } else {
        return;  // a stray continuation or a byte UTF-8 never uses
    }
    d.utf8_lead = byte;
    d.state = State::utf8;
}

void feed_utf8_continuation(KeyDecoder& d, unsigned char byte) {
    if ((byte & 0xC0) != 0x80) {
        d.state = State::ground;  // cut off: drop it, keep the new byte
        feed_ground(d, byte);
        return;
    }
    d.utf8_code = (d.utf8_code << 6) | (byte & 0x3Fu);
    if (--d.utf8_need > 0) return;
    d.state = State::ground;
    const char32_t code = d.utf8_code;
    const bool overlong =
        (d.utf8_lead == 0xE0 && code < 0x800) || (d.utf8_lead == 0xF0 && code < 0x10000);
    if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return;
    emit_typed(d, code);
}

void feed_ground(KeyDecoder& d, unsigned char byte) {
    if (byte == 0x1B) {
        d.state = State::escape;
    } else if (byte == 0x7F || byte == 0x08) {
        emit(d, KEY_BACKSPACE);  // terminals disagree on which one Backspace sends
    } else if (byte == '\n') {
        emit(d, KEY_ENTER);  // keypad Enter on some terminals (tmux), and Ctrl+J
    } else if (byte == 0) {
        emit(d, KEY_UNKNOWN);
    } else if (byte < 0x80) {
        emit(d, byte);
    } else if (d.utf8_input) {
        feed_utf8_lead(d, byte);
    } else {
        emit_typed(d, d.upper_half[byte - 0x80]);
    }
}

void feed_escape(KeyDecoder& d, unsigned char byte) {
    if (byte == '[') {
        start_sequence(d, State::csi);
    } else if (byte == 'O') {
        start_sequence(d, State::ss3);
    } else if (byte == ']' || byte == 'P' || byte == '_' || byte == '^' || byte == 'X') {
        d.state = State::string;  // OSC, DCS, APC, PM, SOS: a report, not a key
        d.string_len = 0;
    } else if (byte == 0x1B) {
        emit(d, KEY_ESC);  // the first one was a lone Esc; the second may start a sequence
    } else if (byte >= 0x20 && byte < 0x7F) {
        d.state = State::ground;  // Alt with a key: one key we have no code for
        emit(d, KEY_UNKNOWN);
    } else {
        d.state = State::ground;
        emit(d, KEY_ESC);
        feed_ground(d, byte);
    }
}

void feed_sequence(KeyDecoder& d, unsigned char byte) {
    if (d.state == State::csi && d.params_len == 0 && !d.params_overflow && byte == '[') {
        d.state = State::linux_fkey;
        return;
    }
    if (d.state == State::csi && d.params_len == 0 && !d.params_overflow && byte == 'M') {
        d.state = State::mouse;  // an X10 mouse report: three raw bytes follow
        d.mouse_left = 3;
        return;
    }
    if (byte >= 0x20 && byte <= 0x3F) {
        if (d.params_len < static_cast<int>(sizeof d.params)) {
            d.params[d.params_len++] = static_cast<char>(byte);
        } else {
            d.params_overflow = true;
        }
        return;
    }
    const State was = d.state;
    d.state = State::ground;
    if (byte >= 0x40 && byte <= 0x7E) {
        const char final_byte = static_cast<char>(byte);
        emit(d, was == State::csi ? resolve_csi(d, final_byte) : resolve_ss3(d, final_byte));
        return;
    }
    // A control or high byte cannot be part of a sequence: it was cut off.
    emit(d, KEY_UNKNOWN);
    feed_ground(d, byte);
}

// ESC [ [ and one letter. Anything else ends the sequence without being part of
// it, or an ESC that follows would be swallowed and its sequence leak as text.
void feed_linux_fkey(KeyDecoder& d, unsigned char byte) {
    d.state = State::ground;
    if (byte >= 0x40 && byte <= 0x7E) {
        emit(d, byte >= 'A' && byte <= 'E' ? KEY_F1 + (byte - 'A') : KEY_UNKNOWN);
        return;
    }
    emit(d, KEY_UNKNOWN);
    feed_ground(d, byte);
}

// Up to BEL or ESC \. Any other ESC ends the string as well and starts what
// follows it, so a cut-off report cannot take the next key with it.
void feed_string(KeyDecoder& d, unsigned char byte) {
    if (d.state == State::string_escape) {
        d.state = State::ground;
        if (byte != '\\') {
            d.state = State::escape;
            feed_escape(d, byte);
        }
        return;
    }
    if (byte == 0x07) {
        d.state = State::ground;
    } else if (byte == 0x1B) {
        d.state = State::string_escape;
    } else if (++d.string_len >= KEY_DECODER_STRING_LIMIT) {
        d.state = State::ground;
    }
}

// The report's bytes are 32 and up; a control byte means it was cut off.
void feed_mouse(KeyDecoder& d, unsigned char byte) {
    if (byte < 0x20) {
        d.state = State::ground;
        feed_ground(d, byte);
    } else if (--d.mouse_left == 0) {
        d.state = State::ground;
    }
}

}  // namespace

void key_decoder_init(KeyDecoder& d, bool utf8_input, const char32_t* upper_half) {
    std::memset(&d, 0, sizeof d);
    d.state = State::ground;
    d.utf8_input = utf8_input;
    if (upper_half != nullptr) std::memcpy(d.upper_half, upper_half, sizeof d.upper_half);
}

void key_decoder_feed(KeyDecoder& d, unsigned char byte) {
    if (d.in_paste && ++d.paste_len > KEY_DECODER_PASTE_LIMIT) d.paste_overflow = true;
    switch (d.state) {
        case State::ground: feed_ground(d, byte); break;
        case State::escape: feed_escape(d, byte); break;
        case State::csi:
        case State::ss3: feed_sequence(d, byte); break;
        case State::linux_fkey: feed_linux_fkey(d, byte); break;
        case State::utf8: feed_utf8_continuation(d, byte); break;
        case State::string:
        case State::string_escape: feed_string(d, byte); break;
        case State::mouse: feed_mouse(d, byte); break;
    }
}

void key_decoder_expire(KeyDecoder& d) {
    const State was = d.state;
    d.state = State::ground;
    if (was == State::escape) emit(d, KEY_ESC);
    if (was == State::csi || was == State::ss3 || was == State::linux_fkey) emit(d, KEY_UNKNOWN);
    d.in_paste = false;
}

bool key_decoder_waiting(const KeyDecoder& d) {
    return d.state != State::ground;
}

bool key_decoder_in_report(const KeyDecoder& d) {
    return d.state == State::string || d.state == State::string_escape || d.state == State::mouse;
}

bool key_decoder_in_paste(const KeyDecoder& d) {
    return d.in_paste;
}

KeyCode key_decoder_next(KeyDecoder& d) {
    if (d.queue_count == 0) return 0;
    const KeyCode key = d.queue[d.queue_head];
    d.queue_head = (d.queue_head + 1) % 8;
    --d.queue_count;
    return key;
}
