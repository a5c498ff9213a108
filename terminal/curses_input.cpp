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

}  // namespace tty

using namespace tty;

KeyCode device_read_key(const Grid& grid) {
    for (;;) {
        // While the size notice hides the form, keys wait (in the terminal, or
        // here) until the form is back rather than act unseen.
        const bool hold = notice_up;
        // Bytes already read go through the decoder one at a time, so a burst
        // of typing never overruns its small queue.
        while (!hold && input_pos < input_len) {
            key_decoder_feed(decoder, input[input_pos++]);
            if (const KeyCode key = key_decoder_next(decoder)) return key;
        }
        if (!hold) {
            if (const KeyCode key = key_decoder_next(decoder)) return key;
        }
        // Held, the terminal is still watched for a hang-up: poll reports one
        // whatever the events asked for.
        pollfd fds[2] = {{tty_fd, static_cast<short>(hold ? 0 : POLLIN), 0},
                         {wake_pipe[0], POLLIN, 0}};
        const bool waiting = !hold && key_decoder_waiting(decoder);
        const int ready = poll(fds, 2, waiting ? SEQUENCE_WAIT_MS : -1);
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
        if (hold) terminal_lost(grid);
        const ssize_t count = read(tty_fd, input, sizeof input);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) terminal_lost(grid);
        input_pos = 0;
        input_len = static_cast<int>(count);
    }
}
