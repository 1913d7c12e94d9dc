#include "app/encode/OutputTarget.h"

namespace talveco {

OutputPlace refuseUnsafeTarget(const std::string& target, FileIdentity input, bool force) {
    if (target == kStandardStreamName) {
        refuseStandardOutputAsInput(input);
        return OutputPlace::NewFile;
    }
    return checkOutput(target, input, force);
}

}  // namespace talveco
