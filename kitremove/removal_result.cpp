#include "kitremove/removal_result.h"

namespace {

// Higher is stronger; every other code is a failure.
int Rank(std::int32_t code) {
  switch (code) {
    case 0: return 0;
    case kRemovalNotInstalled: return 1;
    case kRemovalRebootRequired: return 2;
    default: return 3;
  }
}

}  // namespace

std::int32_t StrongerRemovalResult(std::int32_t kept, std::int32_t next) {
  return Rank(next) > Rank(kept) ? next : kept;
}

bool RemovalGoesOn(std::int32_t code) { return Rank(code) < 3; }
