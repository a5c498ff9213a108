// The in-memory screen: what put_text, put_char and set_cursor change.
#include <gtest/gtest.h>

#include "fake_terminal.h"
#include "screen_assert.h"

namespace {

class Grid_ : public ::testing::Test {
protected:
    void SetUp() override { reset_fake_terminal(); }
};

TEST_F(Grid_, TextGivesExactlyItsCellsTheAttributeAndLeavesTheCursor) {
    set_cursor(7, 3);
    put_text(2, 3, "abc", ATTR_FIELD);
    EXPECT_ROWS(3, "{.: }{F:abc}{.:  ^                                                                          }|");
}

TEST_F(Grid_, EmptyTextChangesNothing) {
    put_text(1, 1, "xy", ATTR_NORMAL);
    put_text(1, 1, "", ATTR_FIELD);
    EXPECT_EQ(screen_grid().cells[0][0].attr, ATTR_NORMAL);
    EXPECT_EQ(screen_grid().cells[0][0].ch, 'x');
}

TEST_F(Grid_, ShorterTextLeavesTheOldTailAndItsAttribute) {
    put_text(1, 2, "c:/bbs/main/", ATTR_HIGHLIGHT);
    put_text(1, 2, "d:/x", ATTR_FIELD);
    EXPECT_ROWS(2, "{F:d:/x}{H:bs/main/}{.:                                                                    }|");
}

TEST_F(Grid_, CharacterWritesOneCellEvenANul) {
    put_text(5, 4, "abc", ATTR_BOX);
    put_char(6, 4, 'X', ATTR_HIGHLIGHT);
    EXPECT_EQ(screen_grid().cells[3][5].ch, 'X');
    EXPECT_EQ(screen_grid().cells[3][5].attr, ATTR_HIGHLIGHT);
    EXPECT_EQ(screen_grid().cells[3][4].attr, ATTR_BOX);
    EXPECT_EQ(screen_grid().cells[3][6].attr, ATTR_BOX);
}

TEST_F(Grid_, WritesOffTheScreenAreDroppedNotWrapped) {
    put_text(78, 1, "abcdef", ATTR_PLAIN);
    put_text(1, 26, "below", ATTR_PLAIN);
    put_text(1, 0, "above", ATTR_PLAIN);
    put_text(-2, 2, "left", ATTR_PLAIN);
    put_char(81, 3, 'z', ATTR_PLAIN);
    EXPECT_EQ(screen_grid().cells[0][77].ch, 'a');
    EXPECT_EQ(screen_grid().cells[0][79].ch, 'c');
    EXPECT_EQ(screen_grid().cells[1][0].ch, 't');  // "lef" fell off the left edge
    EXPECT_EQ(screen_grid().cells[1][0].attr, ATTR_PLAIN);
    EXPECT_EQ(screen_grid().cells[2][0].ch, 0);
}

TEST_F(Grid_, HighBytesAreKeptAsCodePage437) {
    put_text(1, 1, "\xB0\x84\x01", ATTR_BACKDROP);
    EXPECT_ROWS(1, "{B:^░ä☺}{.:                                                                             }|");
}

}  // namespace
