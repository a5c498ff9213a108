// The check-box field driven by scripted keys on the in-memory screen.
#include "check_box.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_terminal.h"
#include "screen_assert.h"

namespace {

// The form's "Backup when save" line: columns 27..52 of row 11, mark at 29.
constexpr int COL = 27;
constexpr int ROW = 11;
constexpr char LABEL[] = " [ ]  Backup when save    ";
constexpr Cell SHADE = {0xB0, ATTR_BACKDROP};

std::string shade(int cells) {
    std::string out;
    for (int i = 0; i < cells; ++i) out += "░";
    return out;
}

// Row ROW as a literal: shade, the line's runs, shade to column 80.
std::string box_row(const std::string& runs) {
    return "{B:" + shade(COL - 1) + "}" + runs + "{B:" + shade(SCREEN_COLS - COL + 1 - 26) + "}|";
}

// Cells that are no longer shade, apart from the line's own 26.
int stray_cells(const Grid& grid) {
    int stray = 0;
    for (int r = 1; r <= SCREEN_ROWS; ++r) {
        for (int c = 1; c <= SCREEN_COLS; ++c) {
            if (r == ROW && c >= COL && c < COL + 26) continue;
            if (!(grid.cells[r - 1][c - 1] == SHADE)) ++stray;
        }
    }
    return stray;
}

class CheckBox : public ::testing::Test {
   protected:
    void SetUp() override { fresh_screen(); }
    static void fresh_screen() {
        reset_fake_terminal();
        char line[SCREEN_COLS + 1];
        std::memset(line, SHADE.ch, SCREEN_COLS);
        line[SCREEN_COLS] = '\0';
        for (int row = 1; row <= SCREEN_ROWS; ++row) put_text(1, row, line, ATTR_BACKDROP);
    }
};

TEST_F(CheckBox, TheLineIsHighlightedWithTheCursorOnTheMark) {
    script_keys({SNAPSHOT, KEY_DOWN});
    edit_check_box(COL, ROW, LABEL, 1);
    EXPECT_SNAPSHOT_ROWS(snapshots()[0], ROW, box_row("{H: [^X]  Backup when save    }"));
    EXPECT_EQ(stray_cells(snapshots()[0]), 0);

    fresh_screen();
    script_keys({SNAPSHOT, KEY_DOWN});
    edit_check_box(COL, ROW, LABEL, 0);
    EXPECT_SNAPSHOT_ROWS(snapshots()[0], ROW, box_row("{H: [^ ]  Backup when save    }"));
}

TEST_F(CheckBox, UpAndDownLeaveWithTheDirectionAndTheUnchangedState) {
    const struct {
        int state;
        KeyCode key;
        FieldResult result;
        const char* line;
    } cases[] = {
        {1, KEY_UP, BOX_UP_CHECKED, "{O: [^X]  Backup when save    }"},
        {0, KEY_UP, BOX_UP_CLEAR, "{O: [^ ]  Backup when save    }"},
        {1, KEY_DOWN, BOX_DOWN_CHECKED, "{O: [^X]  Backup when save    }"},
        {0, KEY_DOWN, BOX_DOWN_CLEAR, "{O: [^ ]  Backup when save    }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.state) + " " + std::to_string(c.key));
        fresh_screen();
        script_keys({c.key, 'q'});
        EXPECT_EQ(edit_check_box(COL, ROW, LABEL, c.state), c.result);
        EXPECT_EQ(keys_left(), 1);
        EXPECT_ROWS(ROW, box_row(c.line));
        EXPECT_EQ(stray_cells(screen_grid()), 0);
    }
}

TEST_F(CheckBox, SpaceFlipsTheMarkAndTwiceGivesTheStartBack) {
    script_keys({KEY_SPACE, SNAPSHOT, KEY_SPACE, SNAPSHOT, KEY_UP});
    EXPECT_EQ(edit_check_box(COL, ROW, LABEL, 1), BOX_UP_CHECKED);
    EXPECT_SNAPSHOT_ROWS(snapshots()[0], ROW, box_row("{H: [^ ]  Backup when save    }"));
    EXPECT_SNAPSHOT_ROWS(snapshots()[1], ROW, box_row("{H: [^X]  Backup when save    }"));

    const struct {
        int state;
        KeyCode key;
        FieldResult result;
    } flips[] = {{1, KEY_DOWN, BOX_DOWN_CLEAR},
                 {0, KEY_DOWN, BOX_DOWN_CHECKED},
                 {1, KEY_UP, BOX_UP_CLEAR},
                 {0, KEY_UP, BOX_UP_CHECKED}};
    for (const auto& f : flips) {
        SCOPED_TRACE(std::to_string(f.state) + " " + std::to_string(f.key));
        fresh_screen();
        script_keys({KEY_SPACE, f.key});
        EXPECT_EQ(edit_check_box(COL, ROW, LABEL, f.state), f.result);
        EXPECT_EQ(screen_grid().cells[ROW - 1][COL + 1],
                  (Cell{static_cast<unsigned char>(f.state == 1 ? ' ' : 'X'), ATTR_BOX}));
    }
}

TEST_F(CheckBox, EveryOtherKeyIsIgnored) {
    script_keys({SNAPSHOT, KEY_ENTER, KEY_ESC, 'a', 'X', 'x', KEY_LEFT, KEY_RIGHT, KEY_HOME,
                 KEY_END, KEY_TAB, KEY_BACKSPACE, KEY_DELETE, KEY_F1, KEY_PAD_ENTER, KEY_UNKNOWN,
                 SNAPSHOT, KEY_DOWN});
    EXPECT_EQ(edit_check_box(COL, ROW, LABEL, 0), BOX_DOWN_CLEAR);
    EXPECT_EQ(keys_left(), 0);
    EXPECT_EQ(screen_literal(snapshots()[1]), screen_literal(snapshots()[0]));
}

}  // namespace
