// Console input records, built by hand as the console reports them, folded
// into KeyCodes.
#include "win_keys.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

INPUT_RECORD key(WORD virtual_key, WORD scan, unsigned char ch, DWORD state = 0, WORD repeat = 1,
                 bool down = true) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    KEY_EVENT_RECORD& k = record.Event.KeyEvent;
    k.bKeyDown = down ? TRUE : FALSE;
    k.wRepeatCount = repeat;
    k.wVirtualKeyCode = virtual_key;
    k.wVirtualScanCode = scan;
    k.uChar.AsciiChar = static_cast<CHAR>(ch);
    k.dwControlKeyState = state;
    return record;
}

INPUT_RECORD key_up(WORD virtual_key, WORD scan, unsigned char ch) {
    return key(virtual_key, scan, ch, 0, 1, false);
}

// Every code the records give, in order, as the device reads them.
std::vector<KeyCode> fold(std::initializer_list<INPUT_RECORD> records) {
    std::vector<KeyCode> codes;
    WinKeys keys{0, 0};
    for (const INPUT_RECORD& record : records) {
        win_keys_feed(keys, record);
        while (const KeyCode code = win_keys_next(keys)) codes.push_back(code);
    }
    return codes;
}

using Codes = std::vector<KeyCode>;

struct KeyCase {
    const char* name;
    INPUT_RECORD record;
    KeyCode expected;
};

// Grey keys carry the enhanced flag; the keypad's own keys (Num Lock off) do
// not, and have no character either.
const KeyCase KEY_TABLE[] = {
    {"grey Up", key(VK_UP, 72, 0, ENHANCED_KEY), KEY_UP},
    {"keypad Up", key(VK_UP, 72, 0), KEY_UP},
    {"grey Down", key(VK_DOWN, 80, 0, ENHANCED_KEY), KEY_DOWN},
    {"keypad Down", key(VK_DOWN, 80, 0), KEY_DOWN},
    {"grey Left", key(VK_LEFT, 75, 0, ENHANCED_KEY), KEY_LEFT},
    {"keypad Left", key(VK_LEFT, 75, 0), KEY_LEFT},
    {"grey Right", key(VK_RIGHT, 77, 0, ENHANCED_KEY), KEY_RIGHT},
    {"keypad Right", key(VK_RIGHT, 77, 0), KEY_RIGHT},
    {"grey Home", key(VK_HOME, 71, 0, ENHANCED_KEY), KEY_HOME},
    {"keypad Home", key(VK_HOME, 71, 0), KEY_HOME},
    {"grey End", key(VK_END, 79, 0, ENHANCED_KEY), KEY_END},
    {"keypad End", key(VK_END, 79, 0), KEY_END},
    {"grey Delete", key(VK_DELETE, 83, 0, ENHANCED_KEY), KEY_DELETE},
    {"keypad Delete", key(VK_DELETE, 83, 0), KEY_DELETE},
    // The enhanced flag wins over a character.
    {"keypad Enter", key(VK_RETURN, 28, '\r', ENHANCED_KEY), KEY_PAD_ENTER},
    {"keypad slash", key(VK_DIVIDE, 53, '/', ENHANCED_KEY), KEY_PAD_SLASH},
    {"Enter", key(VK_RETURN, 28, '\r'), KEY_ENTER},
    {"Backspace", key(VK_BACK, 14, '\b'), KEY_BACKSPACE},
    {"Esc", key(VK_ESCAPE, 1, 27), KEY_ESC},
    {"Space", key(VK_SPACE, 57, ' '), KEY_SPACE},
    {"letter", key('Q', 16, 'q'), 'q'},
    {"shifted letter", key('Q', 16, 'Q', SHIFT_PRESSED), 'Q'},
    {"Ctrl+C is a character", key('C', 46, 3, LEFT_CTRL_PRESSED), 3},
    {"a with diaeresis", key(VK_OEM_7, 40, 0x84), 0x84},
    {"F1", key(VK_F1, 59, 0), KEY_F1},
    {"Caps Lock is not skipped", key(VK_CAPITAL, 58, 0), 255 + 58},
    // 255 plus a scan code of 0 would be the character 255.
    {"no character and no scan code", key(0, 0, 0), KEY_UNKNOWN},
};

TEST(WinKeys, EachKeyFoldsToItsCode) {
    for (const KeyCase& c : KEY_TABLE) {
        EXPECT_EQ(fold({c.record}), Codes{c.expected}) << c.name;
    }
}

TEST(WinKeys, ShiftCtrlAndAltAloneAreSkipped) {
    for (const int vk : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LSHIFT, VK_RSHIFT, VK_LCONTROL,
                         VK_RCONTROL, VK_LMENU, VK_RMENU}) {
        EXPECT_EQ(fold({key(static_cast<WORD>(vk), 42, 0,
                            SHIFT_PRESSED | LEFT_CTRL_PRESSED | LEFT_ALT_PRESSED),
                        key('X', 45, 'x')}),
                  Codes{'x'})
            << "virtual key " << vk;
    }
    // The right Alt and Ctrl are enhanced keys; alone they are still skipped.
    EXPECT_EQ(fold({key(VK_MENU, 56, 0, ENHANCED_KEY | RIGHT_ALT_PRESSED)}), Codes{});
    EXPECT_EQ(fold({key(VK_CONTROL, 29, 0, ENHANCED_KEY | RIGHT_CTRL_PRESSED)}), Codes{});
}

TEST(WinKeys, KeyUpIsSkipped) {
    EXPECT_EQ(fold({key('A', 30, 'a'), key_up('A', 30, 'a'), key_up(VK_UP, 72, 0)}), Codes{'a'});
}

TEST(WinKeys, OtherEventsAreSkipped) {
    INPUT_RECORD mouse{};
    mouse.EventType = MOUSE_EVENT;
    INPUT_RECORD size{};
    size.EventType = WINDOW_BUFFER_SIZE_EVENT;
    size.Event.WindowBufferSizeEvent.dwSize = {80, 25};
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    focus.Event.FocusEvent.bSetFocus = TRUE;
    INPUT_RECORD menu{};
    menu.EventType = MENU_EVENT;
    EXPECT_EQ(fold({mouse, size, focus, menu, key(VK_DOWN, 80, 0)}), Codes{KEY_DOWN});
}

TEST(WinKeys, RepeatCountGivesTheKeyThatManyTimes) {
    EXPECT_EQ(fold({key('X', 45, 'x', 0, 3)}), (Codes{'x', 'x', 'x'}));
    EXPECT_EQ(fold({key(VK_DOWN, 80, 0, ENHANCED_KEY, 2), key('Y', 21, 'y')}),
              (Codes{KEY_DOWN, KEY_DOWN, 'y'}));
    // A key-down is one press even when its count says none.
    EXPECT_EQ(fold({key(VK_RETURN, 28, '\r', 0, 0)}), Codes{KEY_ENTER});
}

TEST(WinKeys, TypedAlphaIsACharacterNotAPrefix) {
    const unsigned char alpha = 224;
    EXPECT_EQ(fold({key(0, 0, alpha), key('H', 35, 'H', SHIFT_PRESSED)}), (Codes{224, 'H'}));
    EXPECT_EQ(fold({key(0, 0, alpha), key(VK_UP, 72, 0, ENHANCED_KEY)}), (Codes{224, KEY_UP}));
    EXPECT_EQ(fold({key(0, 0, alpha, 0, 2)}), (Codes{224, 224}));
}

}  // namespace
