#include "app/encode/OutputTarget.h"

namespace talveco {

void refuseUnsafeTarget(const std::string& target, FileIdentity input, bool force) {
    if (target == kStandardStreamName) {
        refuseStandardOutputAsInput(input);
        return;
    }
    checkOutput(target, input, force);
}

}  // namespace talveco
