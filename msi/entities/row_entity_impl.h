// The constructor of the plain row kinds, for the files that instantiate them.
#pragma once

#include "msi/entities/row_entity.h"
#include "msi/model/package.h"

namespace Msi {

template <class TD, class T>
MsiRowEntity<TD, T>::MsiRowEntity(MsiPackage* package)
    : MsiStorable<TD, T>(package->database()),
      package_(package),
      values_(Singleton<TD>::instance()->columns().size()) {}

}  // namespace Msi
