// The core runtime's end at process exit.
#pragma once

namespace Processor {

// Silences tracing, releases the registered singletons newest first, lets the
// collector finish and stops it, then deletes the meta classes newest first.
// Registered as an exit routine during static initialisation; safe to run again.
void shutdownRuntime();

}  // namespace Processor
