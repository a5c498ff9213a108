#include "win_keys.h"

namespace {

bool is_modifier_alone(WORD virtual_key) {
    switch (virtual_key) {
        case VK_SHIFT:
        case VK_CONTROL:
        case VK_MENU:
        case VK_LSHIFT:
        case VK_RSHIFT:
        case VK_LCONTROL:
        case VK_RCONTROL:
        case VK_LMENU:
        case VK_RMENU: return true;
        default: return false;
    }
}

// A character unless the key has none or sits in the enhanced block (the grey
// arrows, the keypad Enter and slash): those are 255 plus the scan code. A
// typed 224 is the character 224; nothing here reads a second record.
KeyCode code_of(const KEY_EVENT_RECORD& key) {
    const auto ch = static_cast<unsigned char>(key.uChar.AsciiChar);
    if (ch != 0 && (key.dwControlKeyState & ENHANCED_KEY) == 0) return ch;
    // No character and no scan code: 255 + 0 would be the character 255.
    if (key.wVirtualScanCode == 0) return KEY_UNKNOWN;
    return 255 + key.wVirtualScanCode;
}

}  // namespace

void win_keys_feed(WinKeys& keys, const INPUT_RECORD& record) {
    keys = {0, 0};
    if (record.EventType != KEY_EVENT) return;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (!key.bKeyDown || is_modifier_alone(key.wVirtualKeyCode)) return;
    keys.code = code_of(key);
    // A key-down is at least one press, whatever its count says.
    keys.left = key.wRepeatCount > 0 ? key.wRepeatCount : 1;
}

KeyCode win_keys_next(WinKeys& keys) {
    if (keys.left == 0) return 0;
    --keys.left;
    return keys.code;
}
