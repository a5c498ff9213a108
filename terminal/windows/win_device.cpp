// One implementation of device.h: the Windows console, with a private screen
// buffer of code page 437 cells and the console's own keyboard input. Only
// this file and the key folder it uses see <windows.h>.
#include <cstdlib>
#include <cstring>

#include "device.h"
#include "win_keys.h"

namespace {

constexpr UINT CODE_PAGE_437 = 437;

HANDLE screen_buffer = INVALID_HANDLE_VALUE;
HANDLE original_buffer = INVALID_HANDLE_VALUE;
HANDLE console_input = INVALID_HANDLE_VALUE;
UINT original_output_cp = 0;
UINT original_input_cp = 0;
WinKeys pending_keys = {0, 0};

// The input mode to put back; set while a read has the console in raw mode.
DWORD saved_input_mode = 0;
volatile LONG reading = 0;

// What the console shows now, so a present sends only what changed.
Cell shown[SCREEN_ROWS][SCREEN_COLS];
bool shown_valid = false;
COORD shown_cursor = {-1, -1};

void restore_input_mode() {
    if (InterlockedExchange(&reading, 0) != 0) SetConsoleMode(console_input, saved_input_mode);
}

// Ctrl+Break or a closed window ends the process: hand the console back first.
BOOL WINAPI on_console_event(DWORD) {
    restore_input_mode();
    if (original_buffer != INVALID_HANDLE_VALUE) SetConsoleActiveScreenBuffer(original_buffer);
    if (original_output_cp != 0) SetConsoleOutputCP(original_output_cp);
    if (original_input_cp != 0) SetConsoleCP(original_input_cp);
    return FALSE;  // the default handler then ends the process
}

// The cells of one row from first to last (0-based, inclusive), as the console wants them.
void send_cells(const Cell (&cells)[SCREEN_COLS], int row, int first, int last) {
    char text[SCREEN_COLS];
    for (int col = first; col <= last; ++col) {
        // A cell nothing was drawn in holds 0, which shows as a blank.
        text[col - first] = cells[col].ch == 0 ? ' ' : static_cast<char>(cells[col].ch);
    }
    DWORD done = 0;
    const COORD at = {static_cast<SHORT>(first), static_cast<SHORT>(row)};
    WriteConsoleOutputCharacterA(screen_buffer, text, static_cast<DWORD>(last - first + 1), at,
                                 &done);
    // One fill per run of equal attributes.
    for (int start = first; start <= last;) {
        int end = start;
        while (end < last && cells[end + 1].attr == cells[start].attr) ++end;
        const COORD run = {static_cast<SHORT>(start), static_cast<SHORT>(row)};
        FillConsoleOutputAttribute(screen_buffer, cells[start].attr,
                                   static_cast<DWORD>(end - start + 1), run, &done);
        start = end + 1;
    }
}

void present_row(const Grid& grid, int row) {
    const Cell(&cells)[SCREEN_COLS] = grid.cells[row];
    int first = 0;
    int last = SCREEN_COLS - 1;
    if (shown_valid) {
        while (first <= last && cells[first] == shown[row][first]) ++first;
        while (last >= first && cells[last] == shown[row][last]) --last;
        if (first > last) return;
    }
    send_cells(cells, row, first, last);
    std::memcpy(shown[row], cells, sizeof cells);
}

SHORT clamp(int value, int high) {
    return static_cast<SHORT>(value < 1 ? 0 : (value > high ? high - 1 : value - 1));
}

// One row as a line on the console's own screen, trailing blanks dropped.
void write_row_as_line(const Cell (&cells)[SCREEN_COLS]) {
    char line[SCREEN_COLS + 2];
    DWORD len = 0;
    for (const Cell& cell : cells) {
        line[len++] = cell.ch == 0 ? ' ' : static_cast<char>(cell.ch);
    }
    while (len > 0 && line[len - 1] == ' ') --len;
    if (len == 0) return;
    line[len++] = '\r';
    line[len++] = '\n';
    DWORD done = 0;
    WriteConsoleA(original_buffer, line, len, &done, nullptr);
}

[[noreturn]] void console_lost(const Grid& grid) {
    device_close(grid, false);
    std::exit(EXIT_NO_TERMINAL);
}

}  // namespace

bool device_open(const char** why) {
    // The buffer active now, even when standard output is redirected.
    original_buffer =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    // Write access as well: without it SetConsoleMode fails on some consoles.
    console_input =
        CreateFileA("conin$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (original_buffer == INVALID_HANDLE_VALUE || console_input == INVALID_HANDLE_VALUE) {
        *why = "there is no console to show the form on; run it from a console window.";
        return false;
    }
    screen_buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                              CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (screen_buffer == INVALID_HANDLE_VALUE) {
        *why = "the console cannot make a screen buffer for the form.";
        return false;
    }
    // Cells and typed characters are code page 437 bytes, whatever the console used.
    original_output_cp = GetConsoleOutputCP();
    original_input_cp = GetConsoleCP();
    SetConsoleOutputCP(CODE_PAGE_437);
    SetConsoleCP(CODE_PAGE_437);
    SetConsoleCtrlHandler(on_console_event, TRUE);
    SetConsoleActiveScreenBuffer(screen_buffer);
    shown_valid = false;
    shown_cursor = {-1, -1};
    return true;
}

void device_present(const Grid& grid) {
    for (int row = 0; row < SCREEN_ROWS; ++row) present_row(grid, row);
    shown_valid = true;
    const COORD cursor = {clamp(grid.cursor_col, SCREEN_COLS), clamp(grid.cursor_row, SCREEN_ROWS)};
    if (cursor.X != shown_cursor.X || cursor.Y != shown_cursor.Y) {
        SetConsoleCursorPosition(screen_buffer, cursor);
        shown_cursor = cursor;
    }
}

KeyCode device_read_key(const Grid& grid) {
    if (const KeyCode key = win_keys_next(pending_keys)) return key;
    // Raw only while we wait: no line editing or echo, and Ctrl+C is a key.
    GetConsoleMode(console_input, &saved_input_mode);
    InterlockedExchange(&reading, 1);
    SetConsoleMode(console_input, 0);
    KeyCode key = 0;
    while (key == 0) {
        INPUT_RECORD record;
        DWORD got = 0;
        if (!ReadConsoleInputA(console_input, &record, 1, &got)) {
            restore_input_mode();
            console_lost(grid);
        }
        if (got == 1) {
            win_keys_feed(pending_keys, record);
            key = win_keys_next(pending_keys);
        }
    }
    restore_input_mode();
    return key;
}

void device_close(const Grid& grid, bool keep_text) {
    if (screen_buffer == INVALID_HANDLE_VALUE) return;
    restore_input_mode();
    SetConsoleActiveScreenBuffer(original_buffer);
    // Still in code page 437, so the closing lines read as they did on the form.
    if (keep_text) {
        for (int row = 0; row < SCREEN_ROWS; ++row) write_row_as_line(grid.cells[row]);
    }
    SetConsoleOutputCP(original_output_cp);
    SetConsoleCP(original_input_cp);
    SetConsoleCtrlHandler(on_console_event, FALSE);
    CloseHandle(screen_buffer);
    screen_buffer = INVALID_HANDLE_VALUE;
}
