// The text entry field driven by scripted keys on the in-memory screen.
#include "text_field.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "fake_terminal.h"
#include "screen_assert.h"

namespace {

// The field most tests use: cells 4..11 of row 4.
constexpr int COL = 3;
constexpr int ROW = 4;
constexpr int WIDTH = 8;
constexpr Cell SHADE = {0xB0, ATTR_BACKDROP};

// The whole screen in light shade, so that a write anywhere shows.
void fill_backdrop() {
    char line[SCREEN_COLS + 1];
    std::memset(line, SHADE.ch, SCREEN_COLS);
    line[SCREEN_COLS] = '\0';
    for (int row = 1; row <= SCREEN_ROWS; ++row) put_text(1, row, line, ATTR_BACKDROP);
    set_cursor(1, 1);
}

std::string shade(int cells) {
    std::string out;
    for (int i = 0; i < cells; ++i) out += "░";
    return out;
}

// Row ROW as a literal: shade, the runs of the field's cells, shade to column 80.
// A '^' at the end of runs is the cursor on the cell just right of the field.
std::string field_row(std::string runs) {
    const bool cursor_after = runs.ends_with('^');
    if (cursor_after) runs.pop_back();
    return "{B:" + shade(COL) + "}" + runs + "{B:" + (cursor_after ? "^" : "") +
           shade(SCREEN_COLS - COL - WIDTH) + "}|";
}

// Cells that are no longer shade, apart from columns first..last of row.
int stray_cells(const Grid& grid, int row = ROW, int first = COL + 1, int last = COL + WIDTH) {
    int stray = 0;
    for (int r = 1; r <= SCREEN_ROWS; ++r) {
        for (int c = 1; c <= SCREEN_COLS; ++c) {
            if (r == row && c >= first && c <= last) continue;
            if (!(grid.cells[r - 1][c - 1] == SHADE)) ++stray;
        }
    }
    return stray;
}

// The field's cells hold text in text_attr, then blanks in ATTR_FIELD.
::testing::AssertionResult field_shows(const Grid& grid, const std::string& text, Attr text_attr) {
    for (size_t i = 0; i < WIDTH; ++i) {
        const Cell want = i < text.size() ? Cell{static_cast<unsigned char>(text[i]), text_attr}
                                          : Cell{' ', ATTR_FIELD};
        if (!(grid.cells[ROW - 1][COL + i] == want)) {
            return ::testing::AssertionFailure() << "cell " << i << " of the field:\n"
                                                 << screen_row(grid, ROW);
        }
    }
    return ::testing::AssertionSuccess();
}

class TextField : public ::testing::Test {
   protected:
    void SetUp() override { fresh_screen(); }
    static void fresh_screen() {
        reset_fake_terminal();
        fill_backdrop();
    }

    // The caller's buffer is exactly as large as the contract asks (width + 1,
    // or the start text's size if longer), so an overrun trips the sanitizer.
    FieldResult edit(const char* start, TextMode mode = TEXT_AS_TYPED, int width = WIDTH,
                     int column = COL, int row = ROW) {
        const size_t size =
            std::max(std::strlen(start), static_cast<size_t>(std::max(width, 0))) + 1;
        text = std::make_unique<char[]>(size);
        std::memcpy(text.get(), start, std::strlen(start) + 1);
        return edit_text_field(text.get(), width, mode, column, row);
    }

    std::unique_ptr<char[]> text;
};

// --- The first look, and the repaint at the first key ------------------------

TEST_F(TextField, PrefilledTextIsHighlightedUntilTheFirstKeyAndInsertionGoesAtTheCursor) {
    script_keys({SNAPSHOT, KEY_LEFT, SNAPSHOT, 'X', SNAPSHOT, KEY_ENTER});
    EXPECT_EQ(edit("abc"), FIELD_ENTER);
    ASSERT_EQ(snapshots().size(), 3u);
    EXPECT_SNAPSHOT_ROWS(snapshots()[0], ROW, field_row("{H:abc}{F:^     }"));
    EXPECT_SNAPSHOT_ROWS(snapshots()[1], ROW, field_row("{F:ab^c     }"));
    EXPECT_SNAPSHOT_ROWS(snapshots()[2], ROW, field_row("{F:abX^c    }"));
    EXPECT_STREQ(text.get(), "abXc");
    EXPECT_EQ(stray_cells(screen_grid()), 0);
}

TEST_F(TextField, EmptyTextIsABlankFieldThatEditingKeysLeaveAlone) {
    script_keys({SNAPSHOT, KEY_BACKSPACE, KEY_DELETE, KEY_LEFT, KEY_RIGHT, KEY_HOME, KEY_END,
                 KEY_SPACE, SNAPSHOT, KEY_ENTER});
    EXPECT_EQ(edit(""), FIELD_ENTER);
    for (const Grid& grid : snapshots())
        EXPECT_SNAPSHOT_ROWS(grid, ROW, field_row("{F:^        }"));
    EXPECT_STREQ(text.get(), "");
}

TEST_F(TextField, EscAndExtendedKeysChangeNothingButTheRepaint) {
    for (KeyCode key : {KEY_ESC, KEY_F1, KEY_F12, KEY_PAGE_UP, KEY_PAGE_DOWN, KEY_INSERT,
                        KEY_PAD_ENTER, KEY_PAD_SLASH, KEY_UNKNOWN}) {
        script_keys({key, SNAPSHOT});
    }
    script_keys({KEY_ENTER});
    EXPECT_EQ(edit("abc"), FIELD_ENTER);
    ASSERT_EQ(snapshots().size(), 9u);
    for (const Grid& grid : snapshots())
        EXPECT_SNAPSHOT_ROWS(grid, ROW, field_row("{F:abc^     }"));
    EXPECT_STREQ(text.get(), "abc");
}

// --- Full and over-long text --------------------------------------------------

TEST_F(TextField, FullFieldTakesNoCharacterAnywhereButStillMovesAndDeletes) {
    script_keys({SNAPSHOT, 'x', KEY_HOME, 'y', '\\', KEY_RIGHT, KEY_SPACE, SNAPSHOT, KEY_END,
                 SNAPSHOT, KEY_BACKSPACE, 'z', KEY_HOME, KEY_DELETE, SNAPSHOT, KEY_ENTER});
    EXPECT_EQ(edit("abcdefgh"), FIELD_ENTER);
    ASSERT_EQ(snapshots().size(), 4u);
    EXPECT_SNAPSHOT_ROWS(snapshots()[0], ROW, field_row("{H:abcdefgh}^"));
    EXPECT_SNAPSHOT_ROWS(snapshots()[1], ROW, field_row("{F:a^bcdefgh}"));
    EXPECT_SNAPSHOT_ROWS(snapshots()[2], ROW, field_row("{F:abcdefgh}^"));
    EXPECT_SNAPSHOT_ROWS(snapshots()[3], ROW, field_row("{F:^bcdefgz }"));
    EXPECT_STREQ(text.get(), "bcdefgz");
}

struct ExitKey {
    KeyCode key;
    FieldResult result;
};
constexpr ExitKey EXIT_KEYS[] = {
    {KEY_ENTER, FIELD_ENTER}, {KEY_UP, FIELD_UP}, {KEY_DOWN, FIELD_DOWN}};

TEST_F(TextField, OverLongTextIsCutToTheWidthAndEveryExitKeyStoresTheCutText) {
    for (const ExitKey& exit_key : EXIT_KEYS) {
        SCOPED_TRACE(exit_key.key);
        fresh_screen();
        script_keys({SNAPSHOT, exit_key.key});
        EXPECT_EQ(edit("abcdefghijk"), exit_key.result);
        EXPECT_SNAPSHOT_ROWS(snapshots()[0], ROW, field_row("{H:abcdefgh}^"));
        EXPECT_ROWS(ROW, field_row("{F:abcdefgh}^"));
        EXPECT_EQ(std::string(text.get(), 12), std::string("abcdefgh\0jk\0", 12));
    }
}

// --- Leaving the field --------------------------------------------------------

TEST_F(TextField, ExitKeysStoreTheEditedTextAndLeaveTheBytesBehindItsNul) {
    for (const ExitKey& exit_key : EXIT_KEYS) {
        SCOPED_TRACE(exit_key.key);
        fresh_screen();
        script_keys(
            {KEY_BACKSPACE, KEY_BACKSPACE, KEY_BACKSPACE, KEY_BACKSPACE, 'x', exit_key.key, 'q'});
        EXPECT_EQ(edit("abc/def"), exit_key.result);
        EXPECT_EQ(keys_left(), 1);  // it returned at the exit key
        EXPECT_ROWS(ROW, field_row("{F:abcx^    }"));
        // The save writes the old tail behind the new NUL: only length + 1 bytes are copied.
        EXPECT_EQ(std::string(text.get(), 8), std::string("abcx\0ef\0", 8));
    }
}

// --- Moving and deleting ------------------------------------------------------

TEST_F(TextField, CursorKeysStayWithinTheText) {
    script_keys({KEY_RIGHT, SNAPSHOT, KEY_HOME, KEY_LEFT, SNAPSHOT, KEY_RIGHT, KEY_RIGHT, SNAPSHOT,
                 KEY_RIGHT, KEY_RIGHT, KEY_RIGHT, SNAPSHOT, KEY_HOME, KEY_END, SNAPSHOT, KEY_UP});
    EXPECT_EQ(edit("abc"), FIELD_UP);
    const char* expected[] = {"{F:abc^     }", "{F:^abc     }", "{F:ab^c     }", "{F:abc^     }",
                              "{F:abc^     }"};
    ASSERT_EQ(snapshots().size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_SNAPSHOT_ROWS(snapshots()[i], ROW, field_row(expected[i]));
}

TEST_F(TextField, BackspaceAndDeleteAtBothEnds) {
    script_keys({KEY_HOME, KEY_BACKSPACE, SNAPSHOT, KEY_DELETE, SNAPSHOT, KEY_END, KEY_DELETE,
                 SNAPSHOT, KEY_BACKSPACE, SNAPSHOT, KEY_ENTER});
    EXPECT_EQ(edit("abc"), FIELD_ENTER);
    ASSERT_EQ(snapshots().size(), 4u);
    // Backspace at 0 and Delete at the end change nothing; Delete keeps the
    // cursor, Backspace takes it one place left.
    EXPECT_SNAPSHOT_ROWS(snapshots()[0], ROW, field_row("{F:^abc     }"));
    EXPECT_SNAPSHOT_ROWS(snapshots()[1], ROW, field_row("{F:^bc      }"));
    EXPECT_SNAPSHOT_ROWS(snapshots()[2], ROW, field_row("{F:bc^      }"));
    EXPECT_SNAPSHOT_ROWS(snapshots()[3], ROW, field_row("{F:b^       }"));
    EXPECT_STREQ(text.get(), "b");
}

TEST_F(TextField, BackspaceAndDeleteInTheMiddle) {
    script_keys({KEY_LEFT, KEY_LEFT, KEY_BACKSPACE, SNAPSHOT, KEY_DELETE, SNAPSHOT, KEY_ENTER});
    EXPECT_EQ(edit("abcde"), FIELD_ENTER);
    EXPECT_SNAPSHOT_ROWS(snapshots()[0], ROW, field_row("{F:ab^de    }"));
    EXPECT_SNAPSHOT_ROWS(snapshots()[1], ROW, field_row("{F:ab^e     }"));
    EXPECT_STREQ(text.get(), "abe");
}

TEST_F(TextField, SpaceIsNeverEnteredAtTheStartEvenWithTextAfterIt) {
    script_keys(
        {KEY_HOME, KEY_SPACE, SNAPSHOT, KEY_RIGHT, KEY_SPACE, KEY_END, KEY_SPACE, KEY_DOWN});
    EXPECT_EQ(edit("abc"), FIELD_DOWN);
    EXPECT_SNAPSHOT_ROWS(snapshots()[0], ROW, field_row("{F:^abc     }"));
    EXPECT_ROWS(ROW, field_row("{F:a bc ^   }"));
    EXPECT_STREQ(text.get(), "a bc ");
}

// --- What a typed character becomes -------------------------------------------

TEST_F(TextField, EachModeFiltersTypedCharactersButNotThePrefilledText) {
    const struct {
        TextMode mode;
        const char* start;
        const char* typed;  // each byte one key; Tab (9) and Ctrl+C (3) among them
        const char* stored;
    } cases[] = {
        // clang-format off
        {TEXT_AS_TYPED, "c:", "\\a\t\x84\x03\x81\xFF\x7F", "c:/a\t\x84\x03\x81\xFF\x7F"},
        // a..z, å, ä, ö are raised; ü, æ and everything else stay as they are.
        {TEXT_UPPER_CASE, "c:", "\\az\x86\x84\x94\x81\x91" "A1`{\t\x03",
                                "c:/AZ\x8F\x8E\x99\x81\x91" "A1`{\t\x03"},
        // Only 48..57: the slash (47), ':' (58), a space after a digit and the rest are dropped.
        {TEXT_DIGITS, "x", "0a9/: \\\x84\t\x03" "5", "x095"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        fresh_screen();
        script_text(c.typed);
        script_keys({KEY_ENTER});
        EXPECT_EQ(edit(c.start, c.mode, 20), FIELD_ENTER);
        EXPECT_STREQ(text.get(), c.stored);
        EXPECT_EQ(keys_left(), 0);
    }
}

TEST_F(TextField, PastedCharactersFollowTheTypingRulesInEveryMode) {
    // A blank at the start is dropped, a backslash becomes a slash, the field's
    // width holds; pasted digits in the digits-only mode, nothing else.
    const struct {
        TextMode mode;
        const char* pasted;
        const char* stored;
    } cases[] = {
        // clang-format off
        {TEXT_AS_TYPED, " a\\b \x84" "xyzuvw", "a/b \x84" "xyz"},
        {TEXT_UPPER_CASE, " a\\b \x84" "xyzuvw", "A/B \x8E" "XYZ"},
        {TEXT_DIGITS, " a1\\2", "12"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        fresh_screen();
        for (const char* p = c.pasted; *p != '\0'; ++p) {
            script_keys({KEY_PASTED + static_cast<unsigned char>(*p)});
        }
        script_keys({KEY_ENTER});
        EXPECT_EQ(edit("", c.mode), FIELD_ENTER);
        EXPECT_STREQ(text.get(), c.stored);
    }
}

TEST_F(TextField, ControlCharactersShowAsTheirCodePageGlyphs) {
    script_keys({'a', KEY_TAB, 3, KEY_ENTER});
    EXPECT_EQ(edit(""), FIELD_ENTER);
    EXPECT_ROWS(ROW, field_row("{F:a○♥^     }"));
}

// --- Geometry outside the data model ------------------------------------------

TEST_F(TextField, OddGeometryIsClampedOntoTheScreenAndIntoTheBuffers) {
    const std::string long_text(100, 'x');
    const struct {
        int width, column, row;
        const char* start;
        const char* typed;
        std::string stored;
        int first_cell, last_cell;  // the cells the field may use (none when first > last)
        int cursor_col;
    } cases[] = {
        {0, COL, ROW, "", "ab", "", 1, 0, COL + 1},  // a 1-byte buffer: only the NUL fits
        {-5, COL, ROW, "", "ab", "", 1, 0, COL + 1},
        {80, 0, ROW, long_text.c_str(), "y", std::string(79, 'x'), 1, 79, 80},
        {500, 0, ROW, long_text.c_str(), "y", std::string(79, 'x'), 1, 79, 80},
        {50, 70, ROW, "c:/bbs/main/", "", "c:/bbs/mai", 71, 80, 81},
        {5, 85, ROW, "", "ab", "a", 80, 80, 81},
        {5, -10, ROW, "", "ab", "ab", 1, 5, 3},
        {WIDTH, COL, 0, "abc", "d", "abcd", 1, 0, COL + 5},
        {WIDTH, COL, SCREEN_ROWS + 1, "abc", "d", "abcd", 1, 0, COL + 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("width " + std::to_string(c.width) + " column " + std::to_string(c.column) +
                     " row " + std::to_string(c.row));
        fresh_screen();
        script_text(c.typed);
        script_keys({KEY_ENTER});
        EXPECT_EQ(edit(c.start, TEXT_AS_TYPED, c.width, c.column, c.row), FIELD_ENTER);
        EXPECT_EQ(text.get(), c.stored);
        EXPECT_EQ(stray_cells(screen_grid(), c.row, c.first_cell, c.last_cell), 0);
        EXPECT_EQ(screen_grid().cursor_col, c.cursor_col);
    }
}

// --- Property: any key sequence keeps the invariants --------------------------

// Many short visits, each a random run of keys closed by a random exit key and
// each starting from the text the last one stored. Every key is read after a
// snapshot, so the screen is checked before each key as well as on return. The
// caller's buffer is sized exactly, so the sanitizer build catches any overrun.
TEST_F(TextField, RandomKeysNeverBreakTheInvariants) {
    const KeyCode editing[] = {
        KEY_LEFT,      KEY_RIGHT,     KEY_HOME,   KEY_END, KEY_ESC,    KEY_SPACE,
        '\\',          KEY_TAB,       3,          KEY_F1,  KEY_INSERT, KEY_PAGE_DOWN,
        KEY_PAD_ENTER, KEY_PAD_SLASH, KEY_UNKNOWN};
    std::mt19937 rng(1989);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::string carried = "c:/bbs/main/";
    int keys_sent = 0;
    for (int visit = 0; visit < 3000 && !HasFailure(); ++visit) {
        if (visit % 97 == 0) carried = std::string(30, 'w');  // over-long now and then
        SCOPED_TRACE("visit " + std::to_string(visit) + " starting from '" + carried + "'");
        fresh_screen();
        const TextMode mode = pick(3);
        const int count = pick(40);
        for (int i = 0; i < count; ++i) {
            // A third each: a byte, a deletion, any other editing or extended key.
            const int kind = pick(3);
            KeyCode key = kind == 0   ? 1 + pick(255)
                          : kind == 1 ? (pick(2) == 0 ? KEY_BACKSPACE : KEY_DELETE)
                                      : editing[pick(static_cast<int>(std::size(editing)))];
            if (key == KEY_ENTER) key = 'e';
            script_keys({SNAPSHOT, key});
        }
        const ExitKey& exit_key = EXIT_KEYS[pick(3)];
        script_keys({SNAPSHOT, exit_key.key});
        keys_sent += count + 1;

        ASSERT_EQ(edit(carried.c_str(), mode), exit_key.result);
        ASSERT_EQ(keys_left(), 0);
        // First look: the start text cut to the width, highlighted, cursor after it.
        const std::string start = carried.substr(0, WIDTH);
        ASSERT_TRUE(field_shows(snapshots().front(), start, ATTR_HIGHLIGHT));
        ASSERT_EQ(snapshots().front().cursor_col, COL + 1 + static_cast<int>(start.size()));
        for (const Grid& grid : snapshots()) {
            if (&grid != &snapshots().front()) {  // after the first key: all ATTR_FIELD
                for (int i = 0; i < WIDTH; ++i)
                    ASSERT_EQ(grid.cells[ROW - 1][COL + i].attr, ATTR_FIELD);
            }
            ASSERT_EQ(stray_cells(grid), 0);
            ASSERT_EQ(grid.cursor_row, ROW);
            ASSERT_GE(grid.cursor_col, COL + 1);
            ASSERT_LE(grid.cursor_col, COL + 1 + WIDTH);
        }
        // On return: the caller's string is exactly what the field shows.
        const std::string stored = text.get();
        ASSERT_LE(stored.size(), static_cast<size_t>(WIDTH));
        ASSERT_TRUE(field_shows(screen_grid(), stored, ATTR_FIELD));
        ASSERT_GE(screen_grid().cursor_col, COL + 1);
        ASSERT_LE(screen_grid().cursor_col, COL + 1 + static_cast<int>(stored.size()));
        ASSERT_EQ(stray_cells(screen_grid()), 0);
        carried = stored;
    }
    EXPECT_GT(keys_sent, 50000);
}

}  // namespace
