// The interfaces of the core runtime: their ids and the bases that
// MetaClass::visitBases walks (each base followed at once by its own bases).
// Their operations come with the classes that implement them.
#pragma once

#include "core/messenger.h"  // Processor::Messenger and Processor::Progress
#include "core/object.h"
#include "core/verb.h"  // the verb processor and the reflection interfaces
