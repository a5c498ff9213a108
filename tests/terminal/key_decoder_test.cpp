// The key decoder fed byte sequences as terminals send them.
#include "key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Feeds the bytes, lets input go quiet, and returns every key decoded.
std::vector<KeyCode> decode(const std::string& bytes, bool utf8 = true,
                            const char32_t* upper_half = nullptr) {
    KeyDecoder d;
    key_decoder_init(d, utf8, upper_half);
    std::vector<KeyCode> keys;
    for (char byte : bytes) {
        key_decoder_feed(d, static_cast<unsigned char>(byte));
        while (KeyCode key = key_decoder_next(d)) keys.push_back(key);
    }
    key_decoder_expire(d);
    while (KeyCode key = key_decoder_next(d)) keys.push_back(key);
    return keys;
}

using Keys = std::vector<KeyCode>;

struct Encoding {
    const char* bytes;
    KeyCode key;
};

TEST(KeyDecoder, EveryNamedKeyInItsCommonEncodings) {
    const Encoding table[] = {
        {"\x7f", KEY_BACKSPACE}, {"\x08", KEY_BACKSPACE}, {"\r", KEY_ENTER},
        {" ", KEY_SPACE},        {"\x1b", KEY_ESC},      {"\n", KEY_ENTER},
        {"\x1b[A", KEY_UP},      {"\x1bOA", KEY_UP},      {"\x1b[1;2A", KEY_UP},
        {"\x1b[B", KEY_DOWN},    {"\x1bOB", KEY_DOWN},
        {"\x1b[C", KEY_RIGHT},   {"\x1bOC", KEY_RIGHT},
        {"\x1b[D", KEY_LEFT},    {"\x1bOD", KEY_LEFT},
        {"\x1b[H", KEY_HOME},    {"\x1bOH", KEY_HOME},    {"\x1b[1~", KEY_HOME}, {"\x1b[7~", KEY_HOME},
        {"\x1b[F", KEY_END},     {"\x1bOF", KEY_END},     {"\x1b[4~", KEY_END},  {"\x1b[8~", KEY_END},
        {"\x1b[3~", KEY_DELETE}, {"\x1b[2~", KEY_INSERT},
        {"\x1b[5~", KEY_PAGE_UP}, {"\x1b[6~", KEY_PAGE_DOWN},
        // The keypad in application mode: each key is its label.
        {"\x1bOM", KEY_ENTER}, {"\x1bOo", '/'}, {"\x1bOj", '*'}, {"\x1bOk", '+'}, {"\x1bOm", '-'},
        {"\x1bOl", ','}, {"\x1bOn", '.'}, {"\x1bOX", '='}, {"\x1bOp", '0'}, {"\x1bOq", '1'},
        {"\x1bOr", '2'}, {"\x1bOs", '3'}, {"\x1bOt", '4'}, {"\x1bOu", '5'}, {"\x1bOv", '6'},
        {"\x1bOw", '7'}, {"\x1bOx", '8'}, {"\x1bOy", '9'},
        {"\x1bOP", KEY_F1},      {"\x1b[11~", KEY_F1},    {"\x1b[[A", KEY_F1},   {"\x1b[[E", 255 + 63},
        {"\x1b[21~", KEY_F10},   {"\x1b[24~", KEY_F12},
    };
    for (const Encoding& e : table) {
        EXPECT_EQ(decode(e.bytes), Keys{e.key}) << "bytes: " << std::string(e.bytes + 1);
    }
}

TEST(KeyDecoder, ControlKeysArriveAsCharacters) {
    // Ctrl+C, Ctrl+Z, Ctrl+\ and Tab reach the form as codes, never as signals.
    EXPECT_EQ(decode("\x03\x1a\x1c\t"), (Keys{3, 26, 28, 9}));
}

TEST(KeyDecoder, UnknownSequencesAreSwallowedWhole) {
    const char* unknown[] = {"\x1b[99~",     "\x1b[1;5A",  "\x1b[E",
                             "\x1b[Z",       "\x1b[?1;2c", "\x1bOZ",
                             "\x1b[<0;5;9M", "\x1bx",      "\x1b[1;2;3;4;5;6;7;8;9;10;11A"};
    for (const char* bytes : unknown) {
        EXPECT_EQ(decode(std::string(bytes) + "a"), (Keys{KEY_UNKNOWN, 'a'})) << bytes + 1;
    }
}

TEST(KeyDecoder, CutOffSequenceGivesOneUnknownKeyAndTheRestSurvives) {
    EXPECT_EQ(decode("\x1b["), Keys{KEY_UNKNOWN});
    EXPECT_EQ(decode("\x1b[1;"), Keys{KEY_UNKNOWN});
    EXPECT_EQ(decode("\x1bO"), Keys{KEY_UNKNOWN});
    // A control byte cannot be inside a sequence: the sequence ends there.
    EXPECT_EQ(decode("\x1b[1\rx"), (Keys{KEY_UNKNOWN, KEY_ENTER, 'x'}));
    EXPECT_EQ(decode("\x1b[\x1b[A"), (Keys{KEY_UNKNOWN, KEY_UP}));
}

TEST(KeyDecoder, LoneEscWaitsOnlyForQuietInput) {
    KeyDecoder d;
    key_decoder_init(d, true, nullptr);
    key_decoder_feed(d, 0x1b);
    EXPECT_EQ(key_decoder_next(d), 0);
    EXPECT_TRUE(key_decoder_waiting(d));
    key_decoder_expire(d);
    EXPECT_EQ(key_decoder_next(d), KEY_ESC);
    EXPECT_FALSE(key_decoder_waiting(d));
    // Esc twice, then an arrow.
    EXPECT_EQ(decode("\x1b\x1b\x1b[A"), (Keys{KEY_ESC, KEY_ESC, KEY_UP}));
}

KeyCode symbol(KeyCode byte) {
    return KEY_TYPED_SYMBOL + byte;
}

TEST(KeyDecoder, Utf8CharactersBecomeCodePage437Bytes) {
    EXPECT_EQ(decode("ä"), Keys{0x84});
    EXPECT_EQ(decode("åÅöÖÄ"), (Keys{0x86, 0x8F, 0x94, 0x99, 0x8E}));
    EXPECT_EQ(decode("░"), Keys{0xB0});
    // Typed alpha is a character like any other, not a prefix eating the next key.
    EXPECT_EQ(decode("αH"), (Keys{0xE0, 'H'}));
    // Symbols of control codes are their bytes, marked so that none acts as the key.
    EXPECT_EQ(decode("§¶•↑♥☺⌂"), (Keys{symbol(0x15), symbol(0x14), symbol(7), symbol(0x18),
                                       symbol(3), symbol(1), symbol(0x7F)}));
}

TEST(KeyDecoder, CharactersWithoutACodePage437ByteAreDropped) {
    EXPECT_EQ(decode("€x"), Keys{'x'});
    EXPECT_EQ(decode("😀y"), Keys{'y'});
    EXPECT_EQ(decode("◘◙♪←z"), Keys{'z'});  // would be Backspace, Enter, Enter and Esc
}

TEST(KeyDecoder, BrokenUtf8NeverStallsInput) {
    EXPECT_EQ(decode("\xc3x"), Keys{'x'});             // cut-off lead
    EXPECT_EQ(decode("\x84y"), Keys{'y'});             // stray continuation
    EXPECT_EQ(decode("\xff\xfe" "a"), Keys{'a'});      // bytes UTF-8 never uses
    EXPECT_EQ(decode("\xe0\x80\xaf" "b"), Keys{'b'});  // overlong
    EXPECT_EQ(decode("\xed\xa0\x80" "c"), Keys{'c'});  // surrogate
    EXPECT_EQ(decode("\xc3"), Keys{});
    EXPECT_EQ(decode("\xc3\x1b[A"), Keys{KEY_UP});
}

TEST(KeyDecoder, SingleByteLocaleUsesItsTable) {
    char32_t latin1[128];
    for (int i = 0; i < 128; ++i) latin1[i] = static_cast<char32_t>(0x80 + i);
    EXPECT_EQ(decode("\xe4\xc5\xa4", false, latin1), (Keys{0x84, 0x8F}));  // ä Å, and ¤ has no byte
    EXPECT_EQ(decode("\xa7\xb6", false, latin1), (Keys{symbol(0x15), symbol(0x14)}));  // § ¶
    EXPECT_EQ(decode("\xe4z", false, nullptr), Keys{'z'});
}

KeyCode pasted(KeyCode ch) {
    return KEY_PASTED + ch;
}

// Replies and reports a terminal sends unasked; each must vanish whole.
const char* const REPORTS[] = {
    "\x1b]11;rgb:0000/0000/0000\x07",    // OSC ended by BEL
    "\x1b]11;rgb:0000/0000/0000\x1b\\",  // OSC ended by ESC \ (ST)
    "\x1b]2;T\xc3\xaftle\x07",           // OSC with UTF-8 text
    "\x1bP1$r0m\x1b\\",                  // DCS
    "\x1b_Gi=1;OK\x1b\\",                // APC
    "\x1b^note\x1b\\",                   // PM
    "\x1bXany text\x1b\\",               // SOS
    "\x1b[M !!",                         // X10 mouse: press at the top left
    "\x1b[M#\xb0\x7f",                   // X10 mouse: release far right
};

TEST(KeyDecoder, TerminalReportsAreSwallowedWholeAndDeliverNoKey) {
    for (const char* report : REPORTS) {
        EXPECT_EQ(decode(std::string(report) + "a"), Keys{'a'}) << report + 1;
        EXPECT_EQ(decode(std::string(report) + "\x1b[A"), Keys{KEY_UP}) << report + 1;
    }
}

TEST(KeyDecoder, ReportSplitAcrossReadsLeaksNothingAtAnySplit) {
    for (const std::string report : REPORTS) {
        for (size_t split = 1; split < report.size(); ++split) {
            KeyDecoder d;
            key_decoder_init(d, true, nullptr);
            for (size_t i = 0; i < split; ++i)
                key_decoder_feed(d, static_cast<unsigned char>(report[i]));
            EXPECT_EQ(key_decoder_next(d), 0) << report.substr(1) << " split at " << split;
            EXPECT_TRUE(key_decoder_waiting(d)) << report.substr(1) << " split at " << split;
            Keys keys;
            for (unsigned char byte : report.substr(split) + "a") {
                key_decoder_feed(d, byte);
                while (KeyCode key = key_decoder_next(d)) keys.push_back(key);
            }
            EXPECT_EQ(keys, Keys{'a'}) << report.substr(1) << " split at " << split;
        }
    }
}

TEST(KeyDecoder, CutOffReportsGiveTheKeyboardBack) {
    // Quiet ends a string or a mouse report, silently.
    EXPECT_EQ(decode("\x1b]11;rgb:00"), Keys{});
    EXPECT_EQ(decode("\x1b[M "), Keys{});
    // An ESC that is not ST ends the string and starts the next key.
    EXPECT_EQ(decode("\x1bP1$r\x1b[Ab"), (Keys{KEY_UP, 'b'}));
    // A mouse report is raw bytes from 32 up; a control byte cut it off.
    EXPECT_EQ(decode("\x1b[M!\x1b[B"), Keys{KEY_DOWN});
    // A string that never ends: the keyboard is back after the bound.
    for (const char* start : {"\x1b]", "\x1bP", "\x1b_", "\x1b^", "\x1bX"}) {
        const std::string endless = start + std::string(KEY_DECODER_STRING_LIMIT, 'x');
        EXPECT_EQ(decode(endless + "ab"), (Keys{'a', 'b'})) << start + 1;
        EXPECT_EQ(decode(endless.substr(0, endless.size() - 1) + "ab"), Keys{'b'}) << start + 1;
    }
}

TEST(KeyDecoder, PastedTextIsItsCharactersAlone) {
    // Line breaks, Tab, Backspace bytes, Ctrl+C, arrows and Esc inside a paste
    // are dropped; what follows the paste is keys again.
    EXPECT_EQ(decode("\x1b[200~a\\b c\r\nd\te\x7f\x08\x03\x1b[A\x1bOBf\x1b[201~\r"),
              (Keys{pasted('a'), pasted('\\'), pasted('b'), pasted(' '), pasted('c'), pasted('d'),
                    pasted('e'), pasted('f'), KEY_ENTER}));
    EXPECT_EQ(decode("\x1b[200~\xc3\xa4\xe2\x82\xac\x1b[201~"), Keys{pasted(0x84)});
    EXPECT_EQ(decode("\x1b[200~§◙\x1b[201~"), Keys{symbol(0x15)});
    // A report inside a paste is still a report.
    EXPECT_EQ(decode("\x1b[200~x\x1b]11;rgb:0/0/0\x07y\x1b[201~"),
              (Keys{pasted('x'), pasted('y')}));
    // Markers alone deliver nothing.
    EXPECT_EQ(decode("\x1b[200~\x1b[201~\x1b[201~z"), Keys{'z'});
}

TEST(KeyDecoder, PasteThatNeverEndsGivesTheKeyboardBack) {
    // Past the bound the rest of the paste is dropped, line breaks and all ...
    const Keys keys = decode("\x1b[200~" + std::string(KEY_DECODER_PASTE_LIMIT, 'x') +
                             "\r\nABC\r \x1b[201~\r");
    ASSERT_EQ(keys.size(), static_cast<size_t>(KEY_DECODER_PASTE_LIMIT) + 1);
    EXPECT_EQ(keys.front(), pasted('x'));
    EXPECT_EQ(keys.back(), KEY_ENTER);
    // ... and a paste whose end never comes is over once input goes quiet.
    KeyDecoder d;
    key_decoder_init(d, true, nullptr);
    for (unsigned char byte : std::string("\x1b[200~a")) key_decoder_feed(d, byte);
    EXPECT_TRUE(key_decoder_in_paste(d));
    EXPECT_FALSE(key_decoder_waiting(d));
    EXPECT_EQ(key_decoder_next(d), pasted('a'));
    key_decoder_expire(d);
    EXPECT_FALSE(key_decoder_in_paste(d));
    key_decoder_feed(d, '\r');
    EXPECT_EQ(key_decoder_next(d), KEY_ENTER);
}

TEST(KeyDecoder, LongBurstsLoseNothingWhenDrainedPerByte) {
    std::string burst;
    for (int i = 0; i < 100; ++i) burst += "\x1b[Bq";
    const Keys keys = decode(burst);
    ASSERT_EQ(keys.size(), 200u);
    EXPECT_EQ(keys[198], KEY_DOWN);
    EXPECT_EQ(keys[199], 'q');
}

}  // namespace
