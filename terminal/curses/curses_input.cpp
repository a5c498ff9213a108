// Keys from the terminal: bytes read from it, decoded into KeyCodes.
#include <langinfo.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "curses_internal.h"
#include "key_decoder.h"

namespace tty {

namespace {

// How long a partial escape sequence may wait for its next byte.
constexpr int SEQUENCE_WAIT_MS = 20;
// How long a paste or a terminal report may pause before it counts as over:
// longer, as either can come in pieces over a slow link, and neither may leak
// into the form as keys.
constexpr int PASTE_WAIT_MS = 500;
constexpr KeyCode CTRL_C = 3;

KeyDecoder decoder;
bool bracketed_paste = false;  // the terminal marks pastes for us
unsigned char input[256];
int input_pos = 0;
int input_len = 0;

}  // namespace

// Input that is not UTF-8 is read through the locale's own single-byte table.
void prepare_decoder() {
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) {
        key_decoder_init(decoder, true, nullptr);
        return;
    }
    char32_t upper[128] = {};
    for (int i = 0; i < 128; ++i) {
        const char byte = static_cast<char>(0x80 + i);
        wchar_t wide = 0;
        std::mbstate_t state{};
        if (std::mbrtowc(&wide, &byte, 1, &state) == 1) upper[i] = static_cast<char32_t>(wide);
    }
    key_decoder_init(decoder, false, upper);
}

namespace {

// Whether these strings are a paste's start and end to the key decoder.
bool decodes_as_paste_markers(const char* start, const char* end) {
    if (start == nullptr || end == nullptr) return false;
    KeyDecoder probe;
    key_decoder_init(probe, true, nullptr);
    for (const char* p = start; *p != '\0'; ++p)
        key_decoder_feed(probe, static_cast<unsigned char>(*p));
    const bool started = key_decoder_in_paste(probe) && !key_decoder_waiting(probe);
    for (const char* p = end; *p != '\0'; ++p)
        key_decoder_feed(probe, static_cast<unsigned char>(*p));
    return started && !key_decoder_in_paste(probe) && !key_decoder_waiting(probe) &&
           key_decoder_next(probe) == 0;
}

// The next decoded key for the form, or 0. While the size notice hides the
// form, keys act on nothing and are dropped rather than kept to act unseen;
// Esc or Ctrl+C there is the notice's way out.
KeyCode next_key() {
    while (const KeyCode key = key_decoder_next(decoder)) {
        if (!size_notice_shown()) return key_for_form(key);
        if (key == KEY_ESC || key == CTRL_C) return DEVICE_LEAVE;
    }
    return 0;
}

}  // namespace

// Pastes marked by the terminal reach the fields as text, never as keys.
void choose_paste_marking() {
    bracketed_paste = capability("BE") != nullptr && capability("BD") != nullptr &&
                      decodes_as_paste_markers(capability("PS"), capability("PE"));
}

const char* paste_marking_end() {
    return bracketed_paste ? capability("BD") : nullptr;
}

// Straight to the terminal, where curses writes too (putp would write to
// standard output, which may be a file). It sets a mode, so its place among
// curses's output is free.
void mark_pastes(bool on) {
    if (!bracketed_paste) return;
    static char bytes[64];
    static size_t len;
    len = 0;
    tputs(capability(on ? "BE" : "BD"), 1, [](int ch) {
        if (len < sizeof bytes) bytes[len++] = static_cast<char>(ch);
        return ch;
    });
    write_to_terminal(bytes, len);
}

}  // namespace tty

using namespace tty;

KeyCode device_read_key(const Grid& grid) {
    for (;;) {
        // Bytes already read go through the decoder one at a time, so a burst
        // of typing never overruns its small queue.
        while (input_pos < input_len) {
            key_decoder_feed(decoder, input[input_pos++]);
            if (const KeyCode key = next_key()) return key;
        }
        if (const KeyCode key = next_key()) return key;
        pollfd fds[2] = {{tty_fd, POLLIN, 0}, {wake_fd(), POLLIN, 0}};
        // Inside a paste or a report the longer wait wins: a sequence cut
        // between two reads there is most likely the rest of it, and a lone
        // Esc in a paste is dropped anyway.
        const bool long_wait = key_decoder_in_paste(decoder) || key_decoder_in_report(decoder);
        const int wait = long_wait                      ? PASTE_WAIT_MS
                         : key_decoder_waiting(decoder) ? SEQUENCE_WAIT_MS
                                                        : -1;
        const int ready = poll(fds, 2, wait);
        if (ready < 0) {
            if (errno == EINTR) continue;
            terminal_lost(grid);
        }
        if (ready == 0) {
            key_decoder_expire(decoder);
            continue;
        }
        if (fds[1].revents != 0) handle_wakeups(grid);
        if (fds[0].revents == 0) continue;
        const ssize_t count = read(tty_fd, input, sizeof input);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) terminal_lost(grid);
        input_pos = 0;
        input_len = static_cast<int>(count);
    }
}
