#include "kitloader/engine_instance.h"

USmartUpdateEx& ProcessEngine() {
  static USmartUpdateEx engine;
  return engine;
}
