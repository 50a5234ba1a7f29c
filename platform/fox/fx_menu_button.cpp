#include "platform/fox/fx_menu_button.h"

namespace FX {
FXIMPLEMENT(FXStateMenuButton, FXMenuButton, nullptr, 0)
}
