// Keys from the terminal: bytes read from it, decoded into KeyCodes.
#include <langinfo.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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
// The status of "Exit without saving", for leaving at the size notice.
constexpr int LEFT_WITHOUT_SAVING = 2;

KeyDecoder decoder;
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

namespace {

// Esc or Ctrl+C at the size notice. The form is out of reach there, so this
// is the notice's way out: "Exit without saving", the settings file untouched.
[[noreturn]] void leave_at_notice() {
    close_screen();
    const char closing[] = "Exit without saving. Have a very nice day!\n";
    write_to_terminal(closing, sizeof closing - 1);
    std::exit(LEFT_WITHOUT_SAVING);
}

// The next decoded key for the form, or 0. While the size notice hides the
// form, keys act on nothing and are dropped rather than kept to act unseen.
KeyCode next_key() {
    while (const KeyCode key = key_decoder_next(decoder)) {
        if (!notice_up) return key_for_form(key);
        if (key == KEY_ESC || key == CTRL_C) leave_at_notice();
    }
    return 0;
}

}  // namespace

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
        pollfd fds[2] = {{tty_fd, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
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
