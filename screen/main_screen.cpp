#include "main_screen.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "check_box.h"
#include "config.h"
#include "text_field.h"

namespace {

constexpr std::string_view TITLE =
    "  Quenda Setup  -  paths and options of the Quenda editor for VESK BBS          ";
static_assert(TITLE.size() == SCREEN_COLS, "the title fills row 1 exactly");

constexpr char HELP[] = "|  SPACE to set  |  up/down to select  |  Main Menu";
constexpr char BACKUP_LINE[] = " [ ]  Backup when save    ";
constexpr char LOGFILE_LINE[] = " [ ]  Create logfile      ";
constexpr char SAVE_BUTTON[] = "[       Save and exit       ]";
constexpr char QUIT_BUTTON[] = "[    Exit without saving    ]";
// Also the way out where the terminal is too small for the form.
constexpr char LEFT_LINE[] = "Exit without saving. Have a very nice day!";
constexpr int LEFT_STATUS = 2;

constexpr int FIELD_COLUMN = 28;  // the cell left of a directory field
constexpr int FIELD_WIDTH = 50;
constexpr int MAIN_DIR_ROW = 5;
constexpr int EDITOR_DIR_ROW = 6;
constexpr int BOX_COLUMN = 27;
constexpr int BACKUP_ROW = 11;
constexpr int LOGFILE_ROW = 12;
constexpr int BUTTON_COLUMN = 25;
constexpr int SAVE_ROW = 20;
constexpr int QUIT_ROW = 21;

enum Focus { MAIN_DIR = 1, EDITOR_DIR, BACKUP, LOGFILE, SAVE, QUIT };

// The field's text, cut at the field's end so a long one cannot run past the form.
void draw_directory(int row, const char* dir) {
    char text[FIELD_WIDTH + 1];
    std::memset(text, ' ', FIELD_WIDTH);
    text[FIELD_WIDTH] = '\0';
    put_text(FIELD_COLUMN + 1, row, text, ATTR_FIELD);
    const size_t len = strnlen(dir, FIELD_WIDTH);
    std::memcpy(text, dir, len);
    text[len] = '\0';
    put_text(FIELD_COLUMN + 1, row, text, ATTR_FIELD);
}

void draw_form() {
    put_text(1, 1, TITLE.data(), ATTR_NORMAL);
    char line[SCREEN_COLS + 1];
    std::memset(line, 0xB0, SCREEN_COLS);  // light shade
    line[SCREEN_COLS] = '\0';
    for (int row = 2; row <= 24; ++row) put_text(1, row, line, ATTR_BACKDROP);
    std::snprintf(line, sizeof line, "%-80s", HELP);
    put_text(1, 25, line, ATTR_NORMAL);
    put_text(4, MAIN_DIR_ROW, "    VESK main directory: ", ATTR_NORMAL);
    draw_directory(MAIN_DIR_ROW, config_record.main_dir);
    put_text(4, EDITOR_DIR_ROW, "       Quenda directory: ", ATTR_NORMAL);
    draw_directory(EDITOR_DIR_ROW, config_record.editor_dir);
    put_text(BOX_COLUMN, 10, "    Main toggless         ", ATTR_BOX_TITLE);
    put_text(BOX_COLUMN, BACKUP_ROW, BACKUP_LINE, ATTR_BOX);
    put_text(BOX_COLUMN, LOGFILE_ROW, LOGFILE_LINE, ATTR_BOX);
    if (config_record.flags & FLAG_BACKUP) put_char(BOX_COLUMN + 2, BACKUP_ROW, 'X', ATTR_BOX);
    if (config_record.flags & FLAG_LOGFILE) put_char(BOX_COLUMN + 2, LOGFILE_ROW, 'X', ATTR_BOX);
    put_text(BUTTON_COLUMN, SAVE_ROW, SAVE_BUTTON, ATTR_NORMAL);
    put_text(BUTTON_COLUMN, QUIT_ROW, QUIT_BUTTON, ATTR_NORMAL);
}

// Returns the focus move: -1 up, +1 down, 0 when Enter chose the button.
int run_button(int row, const char* text) {
    put_text(BUTTON_COLUMN, row, text, ATTR_PLAIN);
    set_cursor(BUTTON_COLUMN, row);
    for (;;) {
        const KeyCode key = get_key();
        if (key == KEY_ENTER) return 0;
        if (key == KEY_UP || key == KEY_DOWN) {
            put_text(BUTTON_COLUMN, row, text, ATTR_NORMAL);
            return key == KEY_UP ? -1 : 1;
        }
    }
}

// The field shows only its first 50 characters of up to 79. Left as it was
// shown, the stored text stays whole; only an edit stores what the field holds.
int run_directory(int row, char (&dir)[80]) {
    char edited[sizeof dir];
    std::memcpy(edited, dir, sizeof dir);
    const FieldResult result =
        edit_text_field(edited, FIELD_WIDTH, TEXT_AS_TYPED, FIELD_COLUMN, row);
    const size_t shown = strnlen(dir, FIELD_WIDTH);
    if (std::strlen(edited) != shown || std::memcmp(edited, dir, shown) != 0) {
        std::memcpy(dir, edited, sizeof dir);
    }
    put_text(FIELD_COLUMN + 1, row, edited, ATTR_FIELD);
    return result == FIELD_UP ? -1 : 1;
}

int run_option(int row, const char* label, std::uint8_t flag) {
    const FieldResult result =
        edit_check_box(BOX_COLUMN, row, label, (config_record.flags & flag) ? 1 : 0);
    if (result == BOX_UP_CHECKED || result == BOX_DOWN_CHECKED) {
        config_record.flags = static_cast<std::uint8_t>(config_record.flags | flag);
    } else {
        config_record.flags = static_cast<std::uint8_t>(config_record.flags & ~flag);
    }
    return result <= BOX_UP_CLEAR ? -1 : 1;
}

int finish(const char* message, int status) {
    char blank[SCREEN_COLS + 1];
    std::memset(blank, ' ', SCREEN_COLS);
    blank[SCREEN_COLS] = '\0';
    for (int row = 1; row <= SCREEN_ROWS; ++row) put_text(1, row, blank, ATTR_PLAIN);
    put_text(1, 3, message, ATTR_PLAIN);
    set_cursor(1, 4);
    close_screen(true);
    return status;
}

}  // namespace

int main_screen() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    load_config();
    open_screen(LEFT_LINE, LEFT_STATUS);
    draw_form();
    int focus = MAIN_DIR;
    for (;;) {
        int move = 0;
        switch (focus) {
            case MAIN_DIR: move = run_directory(MAIN_DIR_ROW, config_record.main_dir); break;
            case EDITOR_DIR: move = run_directory(EDITOR_DIR_ROW, config_record.editor_dir); break;
            case BACKUP: move = run_option(BACKUP_ROW, BACKUP_LINE, FLAG_BACKUP); break;
            case LOGFILE: move = run_option(LOGFILE_ROW, LOGFILE_LINE, FLAG_LOGFILE); break;
            case SAVE:
                move = run_button(SAVE_ROW, SAVE_BUTTON);
                if (move == 0) {
                    save_config();
                    return finish("Configuration saved. Have a nice day!", 1);
                }
                break;
            default:
                move = run_button(QUIT_ROW, QUIT_BUTTON);
                if (move == 0) return finish(LEFT_LINE, LEFT_STATUS);
                break;
        }
        focus += move;
        if (focus < MAIN_DIR) focus = QUIT;
        if (focus > QUIT) focus = MAIN_DIR;
    }
}
