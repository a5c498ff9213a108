// The key decoder fed arbitrary bytes in bursts, each burst followed by "input
// went quiet". Aborts when a key code is 0 or negative, when a byte of a whole
// CSI sequence (ESC [ parameters final, inside one burst) comes out as a
// character, or when the decoder is left stalled: after quiet it must be idle
// and turn a plain letter into that letter.
//
// Input: the first byte picks UTF-8 (even) or Latin-1 (odd) input; then each
// burst is a length byte (taken modulo 33) and that many bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "key_decoder.h"

namespace {

constexpr size_t MAX_BURST = 32;

[[noreturn]] void broken(const char* what, size_t at, KeyCode key) {
    std::fprintf(stderr, "key decoder: %s (burst byte %zu, key %d)\n", what, at, key);
    std::abort();
}

bool is_parameter(uint8_t byte) {
    return byte >= 0x30 && byte <= 0x3F;
}
bool is_final(uint8_t byte) {
    return byte >= 0x40 && byte <= 0x7E;
}

// Marks the bytes of every complete ESC [ parameters final in the burst.
void mark_sequences(const uint8_t* burst, size_t len, bool* in_sequence) {
    for (size_t i = 0; i < len; ++i) in_sequence[i] = false;
    for (size_t i = 0; i + 2 < len; ++i) {
        if (burst[i] != 0x1B || burst[i + 1] != '[') continue;
        size_t end = i + 2;
        while (end < len && is_parameter(burst[end])) ++end;
        if (end == len || !is_final(burst[end])) continue;
        for (size_t j = i; j <= end; ++j) in_sequence[j] = true;
    }
}

// Takes every key the last byte produced. A character may not come from a
// sequence's byte; the one exception is Esc at the sequence's own ESC, which
// stands for an ESC before it (ESC ESC [ A is Esc, then Up).
void drain(KeyDecoder& d, bool in_sequence, bool sequence_start, size_t at) {
    while (d.queue_count > 0) {
        const KeyCode key = key_decoder_next(d);
        if (key < 1) broken("a key code below 1", at, key);
        const bool character = key <= 255;
        if (character && in_sequence && !(sequence_start && key == KEY_ESC)) {
            broken("a byte of an escape sequence came out as a character", at, key);
        }
    }
}

void check_not_stalled(const KeyDecoder& after_quiet) {
    if (key_decoder_waiting(after_quiet)) broken("still waiting after input went quiet", 0, 0);
    KeyDecoder probe = after_quiet;
    key_decoder_feed(probe, 'x');
    const KeyCode first = key_decoder_next(probe);
    const KeyCode second = key_decoder_next(probe);
    if (first != 'x' || second != 0)
        broken("a plain letter after quiet did not come through", 0, first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    char32_t latin1[128];
    for (int i = 0; i < 128; ++i) latin1[i] = static_cast<char32_t>(0x80 + i);
    KeyDecoder d;
    key_decoder_init(d, (data[0] & 1) == 0, latin1);
    bool in_sequence[MAX_BURST];
    size_t pos = 1;
    while (pos < size) {
        size_t len = data[pos++] % (MAX_BURST + 1);
        if (len > size - pos) len = size - pos;
        const uint8_t* burst = data + pos;
        pos += len;
        mark_sequences(burst, len, in_sequence);
        for (size_t i = 0; i < len; ++i) {
            key_decoder_feed(d, burst[i]);
            drain(d, in_sequence[i], in_sequence[i] && burst[i] == 0x1B, i);
        }
        key_decoder_expire(d);
        drain(d, false, false, len);
        check_not_stalled(d);
    }
    return 0;
}
