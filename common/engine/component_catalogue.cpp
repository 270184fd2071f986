#include "engine/component_catalogue.h"

#include <cstring>

const char* DescribeComponent(const char* classId) {
  (void)classId;  // the catalogue's entries come with the component checks
  return "a control";
}
