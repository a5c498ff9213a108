// The cheapest program that could show quenda-setup's screen: one write of the
// full 80x25 frame with as few escape sequences as it takes, then one byte of
// echo per typed character until Enter. The benchmark uses it as a lower bound.
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace {

// Plain arrays, no std::string: a floor that loaded the C++ runtime library
// would spend longer starting than the program it is measured against.
char frame[16384];
std::size_t frame_len = 0;

void append(const char* s) {
    const std::size_t n = std::strlen(s);
    std::memcpy(frame + frame_len, s, n);
    frame_len += n;
}

void append_padded(const char* s, std::size_t width) {
    const std::size_t n = std::strlen(s);
    append(s);
    for (std::size_t i = n; i < width; ++i) frame[frame_len++] = ' ';
}

bool write_all(const char* s, std::size_t len) {
    std::size_t off = 0;
    while (off < len) {
        ssize_t n = write(STDOUT_FILENO, s + off, len - off);
        if (n <= 0) return false;
        off += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int main() {
    termios saved{};
    const bool tty = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        termios raw = saved;
        cfmakeraw(&raw);
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }

    // Every cell is painted, so no clear is needed; auto-wrap carries the text
    // from row to row and the last cell does not scroll.
    append("\x1b[H\x1b[30;47m");
    append_padded("  Quenda Setup  -  paths and options of the Quenda editor for VESK BBS", 80);
    append("\x1b[34m");
    for (int i = 0; i < 23 * 80; ++i) append("\u2591");
    append("\x1b[30m");
    append_padded("|  SPACE to set  |  up/down to select  |  Main Menu", 80);
    // Park the cursor where the first field would be, so echo lands on screen.
    append("\x1b[5;29H");
    write_all(frame, frame_len);

    unsigned char c = 0;
    while (read(STDIN_FILENO, &c, 1) == 1 && c != '\r' && c != '\n') {
        if (c >= 0x20 && c < 0x7f) write_all(reinterpret_cast<const char*>(&c), 1);
    }

    if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return 0;
}
