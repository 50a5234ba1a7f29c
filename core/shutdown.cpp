#include "core/shutdown.h"

#include "core/collector.h"
#include "core/object.h"
#include "core/singleton.h"
#include "system/trace.h"

namespace Processor {

namespace {
constexpr int kSilentTraceLevel = 6;
}

void shutdownRuntime() {
  if (GC::started()) {
    // From here on nothing traces.
    Common::setTraceThreshold(kSilentTraceLevel);
    shutdownSingletons();
    GC::shutdownCollector();
  }
  MetaClass::deleteAll();
}

}  // namespace Processor
