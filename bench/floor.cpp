// The cheapest program that could show quenda-setup's screen: one write of the
// full 80x25 frame with as few escape sequences as it takes, then one byte of
// echo per typed character until Enter. The benchmark uses it as a lower bound.
#include <termios.h>
#include <unistd.h>

#include <string>

namespace {

std::string pad(std::string s, std::size_t width) {
    s.resize(width, ' ');
    return s;
}

bool write_all(const std::string& s) {
    std::size_t off = 0;
    while (off < s.size()) {
        ssize_t n = write(STDOUT_FILENO, s.data() + off, s.size() - off);
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
    std::string frame = "\x1b[H\x1b[30;47m";
    frame += pad("  Quenda Setup  -  paths and options of the Quenda editor for VESK BBS", 80);
    frame += "\x1b[34m";
    for (int i = 0; i < 23 * 80; ++i) frame += "\u2591";
    frame += "\x1b[30m";
    frame += pad("|  SPACE to set  |  up/down to select  |  Main Menu", 80);
    // Park the cursor where the first field would be, so echo lands on screen.
    frame += "\x1b[5;29H";
    write_all(frame);

    unsigned char c = 0;
    while (read(STDIN_FILENO, &c, 1) == 1 && c != '\r' && c != '\n') {
        if (c >= 0x20 && c < 0x7f) write_all(std::string(1, static_cast<char>(c)));
    }

    if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return 0;
}
