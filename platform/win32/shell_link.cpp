#include "platform/win32/com_internal.h"

HRESULT win32::make_shell_link(REFIID, void** object) {
  *object = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}
