#include "foundation/Timing.h"

Timing& ProcessTiming() {
  static Timing timing;
  return timing;
}
