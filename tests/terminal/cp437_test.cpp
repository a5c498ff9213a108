// Code page 437 glyphs, both ways.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "cp437.h"

namespace {

// As a plain number, which test failure messages can print.
std::uint32_t glyph(int byte) { return cp437_to_unicode(static_cast<unsigned char>(byte)); }

TEST(Cp437, EveryByteButNulRoundTripsThroughItsGlyph) {
    std::set<std::uint32_t> seen;
    for (int byte = 1; byte <= 0xFF; ++byte) {
        EXPECT_TRUE(seen.insert(glyph(byte)).second) << "two bytes share U+" << std::hex << glyph(byte);
        EXPECT_EQ(unicode_to_cp437(glyph(byte)), byte) << std::hex << byte;
    }
    for (int byte = 0x20; byte < 0x7F; ++byte)
        EXPECT_EQ(glyph(byte), static_cast<std::uint32_t>(byte));
}

TEST(Cp437, KnownGlyphs) {
    EXPECT_EQ(glyph(0xB0), std::uint32_t{U'░'});
    EXPECT_EQ(glyph(0x84), std::uint32_t{U'ä'});
    EXPECT_EQ(glyph(0x8F), std::uint32_t{U'Å'});
    EXPECT_EQ(glyph(0xE0), std::uint32_t{U'α'});
    EXPECT_EQ(glyph(0x01), std::uint32_t{U'☺'});
    EXPECT_EQ(glyph(0x00), std::uint32_t{U' '});
    EXPECT_EQ(unicode_to_cp437(U'€'), -1);
    EXPECT_EQ(unicode_to_cp437(U'ß'), 0xE1);
}

TEST(Cp437, StandInsArePrintableAscii) {
    for (int byte = 0; byte <= 0xFF; ++byte) {
        const char c = cp437_ascii_stand_in(static_cast<unsigned char>(byte));
        EXPECT_GE(c, 0x20) << byte;
        EXPECT_LT(c, 0x7F) << byte;
    }
    EXPECT_EQ(cp437_ascii_stand_in(0x84), 'a');
    EXPECT_EQ(cp437_ascii_stand_in(0x99), 'O');
    EXPECT_EQ(cp437_ascii_stand_in('q'), 'q');
    EXPECT_EQ(cp437_line_drawing(0xB0), 'a');
    EXPECT_EQ(cp437_line_drawing('a'), '\0');
}

}  // namespace
