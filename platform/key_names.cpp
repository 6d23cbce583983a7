// Key and button names: the built-in key table, the special codes, and the scan codes of keys
// reported by their USB usage ids.
#include <cstdio>
#include <cstring>

#include "platform/input.h"
#include "platform/vant.h"

namespace {

struct KeyName {
  const char* name;
  int scan;  // set-1 scan code, + 256 for extended keys
};

// In the order names are searched.
const KeyName KEY_TABLE[] = {
    {"Esc", 0x01},
    {"0", 0x0B}, {"1", 0x02}, {"2", 0x03}, {"3", 0x04}, {"4", 0x05},
    {"5", 0x06}, {"6", 0x07}, {"7", 0x08}, {"8", 0x09}, {"9", 0x0A},
    {"A", 0x1E}, {"B", 0x30}, {"C", 0x2E}, {"D", 0x20}, {"E", 0x12}, {"F", 0x21},
    {"G", 0x22}, {"H", 0x23}, {"I", 0x17}, {"J", 0x24}, {"K", 0x25}, {"L", 0x26},
    {"M", 0x32}, {"N", 0x31}, {"O", 0x18}, {"P", 0x19}, {"Q", 0x10}, {"R", 0x13},
    {"S", 0x1F}, {"T", 0x14}, {"U", 0x16}, {"V", 0x2F}, {"W", 0x11}, {"X", 0x2D},
    {"Y", 0x15}, {"Z", 0x2C},
    {"-", 0x0C}, {"=", 0x0D}, {"[", 0x1A}, {"]", 0x1B}, {";", 0x27}, {"'", 0x28},
    {"`", 0x29}, {"\\", 0x2B}, {",", 0x33}, {".", 0x34}, {"/", 0x35},
    {"Backspace", 0x0E}, {"Tab", 0x0F}, {"Enter", 0x1C}, {"Left Ctrl", 0x1D},
    {"Left Shift", 0x2A}, {"Right Shift", 0x36}, {"Space", 0x39}, {" ", 0x39},
    {"Caps Lock", 0x3A}, {"Right Ctrl", 0x11D}, {"Insert", 0x152}, {"Delete", 0x153},
    {"Home", 0x147}, {"End", 0x14F}, {"Page Up", 0x149}, {"Page Down", 0x151},
    {"Up", 0x148}, {"Down", 0x150}, {"Left", 0x14B}, {"Right", 0x14D},
    {"F1", 0x3B}, {"F2", 0x3C}, {"F3", 0x3D}, {"F4", 0x3E}, {"F5", 0x3F}, {"F6", 0x40},
    {"F7", 0x41}, {"F8", 0x42}, {"F9", 0x43}, {"F10", 0x44}, {"F11", 0x57}, {"F12", 0x58},
    {"Pause", 0x45}, {"Num Lock", 0x145}, {"Keypad /", 0x135}, {"Keypad *", 0x37},
    {"Keypad -", 0x4A}, {"Keypad 7", 0x47}, {"Keypad 8", 0x48}, {"Keypad 9", 0x49},
    {"Keypad +", 0x4E}, {"Keypad 4", 0x4B}, {"Keypad 5", 0x4C}, {"Keypad 6", 0x4D},
    {"Keypad 1", 0x4F}, {"Keypad 2", 0x50}, {"Keypad 3", 0x51}, {"Keypad Enter", 0x11C},
    {"Keypad 0", 0x52}, {"Keypad .", 0x53},
};

const struct {
  const char* name;
  int code;
} SPECIAL[] = {
    {"Close", INPUT_CLOSE},
    {"Mouse Left", INPUT_MOUSE_LEFT},
    {"Mouse Middle", INPUT_MOUSE_MIDDLE},
    {"Mouse Right", INPUT_MOUSE_RIGHT},
};

int find(const char* name, int (*compare)(const char*, const char*)) {
  for (const auto& s : SPECIAL)
    if (compare(s.name, name) == 0) return s.code;
  for (const KeyName& k : KEY_TABLE)
    if (compare(k.name, name) == 0) return INPUT_KEY_BASE + k.scan;
  return 0;
}

// USB HID usage ids (keyboard page) 4..101, then 224..231.
const short USB_TO_SCAN[] = {
    /* 4 A..Z */ 0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C,
    /* 30 1..0 */ 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
    /* 40 Enter Esc Backspace Tab Space - = [ ] \ #(non-US) ; ' ` , . / */
    0x1C, 0x01, 0x0E, 0x0F, 0x39, 0x0C, 0x0D, 0x1A, 0x1B, 0x2B, 0x2B, 0x27, 0x28, 0x29, 0x33,
    0x34, 0x35,
    /* 57 Caps Lock, F1..F12 */ 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44,
    0x57, 0x58,
    /* 70 Print Screen, Scroll Lock, Pause */ 0x137, 0x46, 0x45,
    /* 73 Insert Home Page Up Delete End Page Down Right Left Down Up */ 0x152, 0x147, 0x149,
    0x153, 0x14F, 0x151, 0x14D, 0x14B, 0x150, 0x148,
    /* 83 Num Lock, keypad / * - + Enter 1..9 0 . */ 0x145, 0x135, 0x37, 0x4A, 0x4E, 0x11C, 0x4F,
    0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49, 0x52, 0x53,
    /* 100 non-US \, Application */ 0x56, 0x15D,
};
const short USB_MODIFIERS[] = {
    /* 224 Left Ctrl, Left Shift, Left Alt, Left GUI, Right Ctrl, Right Shift, Right Alt,
       Right GUI */
    0x1D, 0x2A, 0x38, 0x15B, 0x11D, 0x36, 0x138, 0x15C,
};

}  // namespace

int input_key_code(VantWindow*, const char* name, int* code) {
  if (!name) return 0;
  const char* alias = vant_alias_lookup(name);
  if (alias) name = alias;
  int found = find(name, strcmp);
  if (!found) found = find(name, vant_name_compare);
  if (!found) {
    unsigned scan;
    char tail;
    if (sscanf(name, "0x%x%c", &scan, &tail) == 1 && scan <= 511) found = INPUT_KEY_BASE + scan;
  }
  if (!found) found = input_device_button_code(name);
  if (!found) return 0;
  *code = found;
  return 1;
}

const char* input_key_name(VantWindow*, int code) {
  for (const auto& s : SPECIAL)
    if (s.code == code) return s.name;
  if (code < INPUT_KEY_BASE || code > INPUT_KEY_LAST) return input_device_button_name(code);
  int scan = code - INPUT_KEY_BASE;
  for (const KeyName& k : KEY_TABLE)
    if (k.scan == scan) return k.name;
  char hex[16];
  snprintf(hex, sizeof hex, "0x%x", scan);
  return vant_intern(hex);
}

int scan_code_from_usb_usage(int usage) {
  constexpr int first = 4;
  constexpr int count = static_cast<int>(sizeof USB_TO_SCAN / sizeof USB_TO_SCAN[0]);
  if (usage >= first && usage < first + count) return USB_TO_SCAN[usage - first];
  if (usage >= 224 && usage <= 231) return USB_MODIFIERS[usage - 224];
  return 0;
}
