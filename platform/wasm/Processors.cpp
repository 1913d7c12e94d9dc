// The processors of the WebAssembly build, which has no threads: the module
// runs on its caller's thread alone, so the decoder never starts a second one.
#include "platform/Processors.h"

namespace talveco {

unsigned usableProcessors() {
    return 1;
}

}  // namespace talveco
