// The sleep of a thread the interpreter ended at shutdown.
#include "interp/ended_thread.h"

#include <unistd.h>

namespace duzer::interp {

void stay_until_exit() {
    // pause() returns after each signal handler; the thread sleeps on.
    for (;;) pause();
}

}  // namespace duzer::interp
