#include "core/shutdown.h"

#include "core/collector.h"
#include "core/object.h"
#include "core/singleton.h"

// The trace facility, when the program has one: from here on nothing traces.
namespace Common {
__attribute__((weak)) void setTraceThreshold(int level);
}

namespace Processor {

namespace {
constexpr int kSilentTraceLevel = 6;
}

void shutdownRuntime() {
  if (GC::started()) {
    if (&Common::setTraceThreshold) Common::setTraceThreshold(kSilentTraceLevel);
    shutdownSingletons();
    GC::shutdownCollector();
  }
  MetaClass::deleteAll();
}

}  // namespace Processor
