#include "installmenu/app/install_menu_app.h"

#include <gtest/gtest.h>

#include "platform/win32/test_world.h"

namespace {

class SignTest : public win32_test::World {};

// The single-instance names come from the whole sign: U+0141 and "A" (0x41)
// share their low byte but name different applications.
TEST_F(SignTest, SignsDifferingInAHighByteNameDifferentObjects) {
  const std::string polish = narrowSign(u"Menu\u0141"), latin = narrowSign(u"MenuA");
  EXPECT_EQ(polish, "Menu\xc5\x81");
  EXPECT_NE(polish, latin);
  HANDLE first = CreateMutexA(nullptr, FALSE, polish.c_str());
  ASSERT_NE(first, nullptr);
  HANDLE second = CreateMutexA(nullptr, FALSE, latin.c_str());
  ASSERT_NE(second, nullptr);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(second);
  CloseHandle(first);
  EXPECT_EQ(narrowSign(nullptr), "");
}

}  // namespace
