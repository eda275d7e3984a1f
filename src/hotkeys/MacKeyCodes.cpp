#include "hotkeys/MacKeyCodes.h"

#include <QtCore/qnamespace.h>
#include <array>
#include <utility>

namespace {
using MacKeyCodes::Key;

constexpr std::array keys{
    Key{0, Qt::Key_A, 0x61, "a", "A"},
    Key{1, Qt::Key_S, 0x73, "s", "S"},
    Key{2, Qt::Key_D, 0x64, "d", "D"},
    Key{3, Qt::Key_F, 0x66, "f", "F"},
    Key{4, Qt::Key_H, 0x68, "h", "H"},
    Key{5, Qt::Key_G, 0x67, "g", "G"},
    Key{6, Qt::Key_Z, 0x7a, "z", "Z"},
    Key{7, Qt::Key_X, 0x78, "x", "X"},
    Key{8, Qt::Key_C, 0x63, "c", "C"},
    Key{9, Qt::Key_V, 0x76, "v", "V"},
    Key{11, Qt::Key_B, 0x62, "b", "B"},
    Key{12, Qt::Key_Q, 0x71, "q", "Q"},
    Key{13, Qt::Key_W, 0x77, "w", "W"},
    Key{14, Qt::Key_E, 0x65, "e", "E"},
    Key{15, Qt::Key_R, 0x72, "r", "R"},
    Key{16, Qt::Key_Y, 0x79, "y", "Y"},
    Key{17, Qt::Key_T, 0x74, "t", "T"},
    Key{31, Qt::Key_O, 0x6f, "o", "O"},
    Key{32, Qt::Key_U, 0x75, "u", "U"},
    Key{34, Qt::Key_I, 0x69, "i", "I"},
    Key{35, Qt::Key_P, 0x70, "p", "P"},
    Key{37, Qt::Key_L, 0x6c, "l", "L"},
    Key{38, Qt::Key_J, 0x6a, "j", "J"},
    Key{40, Qt::Key_K, 0x6b, "k", "K"},
    Key{45, Qt::Key_N, 0x6e, "n", "N"},
    Key{46, Qt::Key_M, 0x6d, "m", "M"},
    Key{18, Qt::Key_1, 0x31, "1", "1"},
    Key{19, Qt::Key_2, 0x32, "2", "2"},
    Key{20, Qt::Key_3, 0x33, "3", "3"},
    Key{21, Qt::Key_4, 0x34, "4", "4"},
    Key{22, Qt::Key_6, 0x36, "6", "6"},
    Key{23, Qt::Key_5, 0x35, "5", "5"},
    Key{25, Qt::Key_9, 0x39, "9", "9"},
    Key{26, Qt::Key_7, 0x37, "7", "7"},
    Key{28, Qt::Key_8, 0x38, "8", "8"},
    Key{29, Qt::Key_0, 0x30, "0", "0"},
    Key{24, Qt::Key_Equal, 0x3d, "equal", "="},
    Key{27, Qt::Key_Minus, 0x2d, "minus", "-"},
    Key{30, Qt::Key_BracketRight, 0x5d, "bracketright", "]"},
    Key{33, Qt::Key_BracketLeft, 0x5b, "bracketleft", "["},
    Key{39, Qt::Key_Apostrophe, 0x27, "apostrophe", "'"},
    Key{41, Qt::Key_Semicolon, 0x3b, "semicolon", ";"},
    Key{42, Qt::Key_Backslash, 0x5c, "backslash", "\\"},
    Key{43, Qt::Key_Comma, 0x2c, "comma", ","},
    Key{44, Qt::Key_Slash, 0x2f, "slash", "/"},
    Key{47, Qt::Key_Period, 0x2e, "period", "."},
    Key{50, Qt::Key_QuoteLeft, 0x60, "grave", "`"},
    Key{36, Qt::Key_Return, 0xff0d, "Return", ""},
    Key{48, Qt::Key_Tab, 0xff09, "Tab", ""},
    Key{49, Qt::Key_Space, 0x20, "space", " "},
    Key{51, Qt::Key_Backspace, 0xff08, "BackSpace", ""},
    Key{53, Qt::Key_Escape, 0xff1b, "Escape", ""},
    Key{115, Qt::Key_Home, 0xff50, "Home", "Home"},
    Key{116, Qt::Key_PageUp, 0xff55, "Prior", "PageUp"},
    Key{117, Qt::Key_Delete, 0xffff, "Delete", "Del"},
    Key{119, Qt::Key_End, 0xff57, "End", "End"},
    Key{121, Qt::Key_PageDown, 0xff56, "Next", "PageDown"},
    Key{123, Qt::Key_Left, 0xff51, "Left", ""},
    Key{124, Qt::Key_Right, 0xff53, "Right", ""},
    Key{125, Qt::Key_Down, 0xff54, "Down", ""},
    Key{126, Qt::Key_Up, 0xff52, "Up", ""},
    Key{122, Qt::Key_F1, 0xffbe, "F1", "F1"},
    Key{120, Qt::Key_F2, 0xffbf, "F2", "F2"},
    Key{99, Qt::Key_F3, 0xffc0, "F3", "F3"},
    Key{118, Qt::Key_F4, 0xffc1, "F4", "F4"},
    Key{96, Qt::Key_F5, 0xffc2, "F5", "F5"},
    Key{97, Qt::Key_F6, 0xffc3, "F6", "F6"},
    Key{98, Qt::Key_F7, 0xffc4, "F7", "F7"},
    Key{100, Qt::Key_F8, 0xffc5, "F8", "F8"},
    Key{101, Qt::Key_F9, 0xffc6, "F9", "F9"},
    Key{109, Qt::Key_F10, 0xffc7, "F10", "F10"},
    Key{103, Qt::Key_F11, 0xffc8, "F11", "F11"},
    Key{111, Qt::Key_F12, 0xffc9, "F12", "F12"},
    Key{105, Qt::Key_F13, 0xffca, "F13", "F13"},
    Key{107, Qt::Key_F14, 0xffcb, "F14", "F14"},
    Key{113, Qt::Key_F15, 0xffcc, "F15", "F15"},
};

// Keys Qt reports with their shifted symbol, and the keypad Enter, as the key they sit on.
constexpr std::array<std::pair<int, int>, 23> aliases{{
    {Qt::Key_Exclam, Qt::Key_1},
    {Qt::Key_At, Qt::Key_2},
    {Qt::Key_NumberSign, Qt::Key_3},
    {Qt::Key_Dollar, Qt::Key_4},
    {Qt::Key_Percent, Qt::Key_5},
    {Qt::Key_AsciiCircum, Qt::Key_6},
    {Qt::Key_Ampersand, Qt::Key_7},
    {Qt::Key_Asterisk, Qt::Key_8},
    {Qt::Key_ParenLeft, Qt::Key_9},
    {Qt::Key_ParenRight, Qt::Key_0},
    {Qt::Key_Underscore, Qt::Key_Minus},
    {Qt::Key_Plus, Qt::Key_Equal},
    {Qt::Key_BraceLeft, Qt::Key_BracketLeft},
    {Qt::Key_BraceRight, Qt::Key_BracketRight},
    {Qt::Key_Bar, Qt::Key_Backslash},
    {Qt::Key_Colon, Qt::Key_Semicolon},
    {Qt::Key_QuoteDbl, Qt::Key_Apostrophe},
    {Qt::Key_Less, Qt::Key_Comma},
    {Qt::Key_Greater, Qt::Key_Period},
    {Qt::Key_Question, Qt::Key_Slash},
    {Qt::Key_AsciiTilde, Qt::Key_QuoteLeft},
    {Qt::Key_Backtab, Qt::Key_Tab},
    {Qt::Key_Enter, Qt::Key_Return},
}};
} // namespace

std::optional<Key> MacKeyCodes::fromQtKey(int qtKey)
{
    for (const auto &[alias, key] : aliases) {
        if (alias == qtKey)
            qtKey = key;
    }
    for (const auto &key : keys) {
        if (key.qtKey == qtKey)
            return key;
    }
    return std::nullopt;
}

std::optional<Key> MacKeyCodes::fromCode(quint32 code)
{
    for (const auto &key : keys) {
        if (key.code == code)
            return key;
    }
    return std::nullopt;
}
