// The update engine of kitloader_held.exe: a kitloader whose install requests
// install nothing and wait for the test, so that the progress window stays up
// while the test drives it.
//
// KITTEST_HOLD_EVENT   name of an event; once it is set the request fails
//                      with 1603
// KITTEST_HOLD_DECISION the decision value the request records (default 2;
//                      1 makes the engine report 0 whatever happens)
// A stop request ends the wait with 1223, as a real installation would.
#include <windows.h>

#include <cstdlib>

#include "foundation/handles.h"
#include "kitloader/engine_instance.h"

namespace {

class HeldEngine : public USmartUpdateEx {
 protected:
  std::int32_t RunObjectProc() override {
    const char* decision = std::getenv("KITTEST_HOLD_DECISION");
    RequestState().SetDecision(static_cast<UpdateDecision>(decision ? std::atoi(decision) : 2));
    const char* name = std::getenv("KITTEST_HOLD_EVENT");
    kit::UniqueHandle release(name ? OpenEventA(SYNCHRONIZE, FALSE, name) : nullptr);
    for (;;) {
      if (CheckStopRequest(0) != 0) return ERROR_CANCELLED;
      if (!release || WaitForSingleObject(release.get(), 50) != WAIT_TIMEOUT) return ERROR_INSTALL_FAILURE;
    }
  }
};

}  // namespace

USmartUpdateEx& ProcessEngine() {
  static HeldEngine engine;
  return engine;
}
