#include "platform/win32/user32/keys.h"

#include "platform/win32/kernel32/codepage.h"

namespace {

constexpr SHORT kShift = 0x100, kCtrl = 0x200;

// The US layout's punctuation keys: unshifted and shifted character.
struct PunctuationKey {
  char plain, shifted;
  BYTE vk;
};
constexpr PunctuationKey kPunctuation[] = {
    {';', ':', 0xBA}, {'=', '+', 0xBB}, {',', '<', 0xBC}, {'-', '_', 0xBD},  {'.', '>', 0xBE}, {'/', '?', 0xBF},
    {'`', '~', 0xC0}, {'[', '{', 0xDB}, {'\\', '|', 0xDC}, {']', '}', 0xDD}, {'\'', '"', 0xDE},
};
constexpr char kShiftedDigits[] = ")!@#$%^&*(";

}  // namespace

SHORT VkKeyScanW(WCHAR ch) {
  if (ch >= u'a' && ch <= u'z') return static_cast<SHORT>(ch - u'a' + 'A');
  if (ch >= u'A' && ch <= u'Z') return static_cast<SHORT>(kShift | ch);
  if (ch >= u'0' && ch <= u'9') return static_cast<SHORT>(ch);
  switch (ch) {
    case u' ': return 0x20;
    case u'\b': return 0x08;
    case u'\t': return 0x09;
    case u'\r': return 0x0D;
    case u'\n': return static_cast<SHORT>(kCtrl | 0x0D);
    case 0x1B: return 0x1B;
    default: break;
  }
  if (ch >= 0x01 && ch <= 0x1A) return static_cast<SHORT>(kCtrl | (ch - 1 + 'A'));
  for (int d = 0; d < 10; ++d)
    if (ch == static_cast<WCHAR>(kShiftedDigits[d])) return static_cast<SHORT>(kShift | ('0' + d));
  for (const PunctuationKey& k : kPunctuation) {
    if (ch == static_cast<WCHAR>(k.plain)) return k.vk;
    if (ch == static_cast<WCHAR>(k.shifted)) return static_cast<SHORT>(kShift | k.vk);
  }
  return -1;
}

SHORT VkKeyScanExW(WCHAR ch, HKL) { return VkKeyScanW(ch); }

SHORT VkKeyScanA(CHAR ch) {
  WCHAR w = 0;
  if (MultiByteToWideChar(CP_ACP, 0, &ch, 1, &w, 1) != 1) return -1;
  return VkKeyScanW(w);
}

SHORT VkKeyScanExA(CHAR ch, HKL dwhkl) {
  WCHAR w = 0;
  if (MultiByteToWideChar(CP_ACP, 0, &ch, 1, &w, 1) != 1) return -1;
  return VkKeyScanExW(w, dwhkl);
}
