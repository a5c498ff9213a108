// bench_floor's screen drawn the plainest way a program on ncurses can: the
// locale, initscr, two colour pairs, one refresh, one refresh per echoed
// character. It shows what loading and setting up ncurses cost by themselves,
// the part of quenda-setup's first frame that no drawing code can win back.
#include <curses.h>

#include <clocale>

int main() {
    std::setlocale(LC_CTYPE, "");
    initscr();
    raw();
    noecho();
    nonl();
    start_color();
    init_pair(1, COLOR_BLACK, COLOR_WHITE);
    init_pair(2, COLOR_BLUE, COLOR_WHITE);

    attrset(COLOR_PAIR(1));
    mvaddstr(0, 0, "  Quenda Setup  -  paths and options of the Quenda editor for VESK BBS");
    hline(' ', COLS);
    cchar_t shade;
    const wchar_t glyph[] = {L'\u2591', L'\0'};
    setcchar(&shade, glyph, A_NORMAL, 2, nullptr);
    for (int row = 1; row < 24; ++row) mvhline_set(row, 0, &shade, 80);
    mvaddstr(24, 0, "|  SPACE to set  |  up/down to select  |  Main Menu");
    hline(' ', COLS);
    move(4, 28);
    refresh();

    for (int ch = getch(); ch != '\r' && ch != '\n' && ch != ERR; ch = getch()) {
        if (ch >= 0x20 && ch < 0x7f) {
            addch(static_cast<chtype>(ch));
            refresh();
        }
    }
    endwin();
    return 0;
}
