#include <string>
#include <vector>

#include "app/decode/DecodeRun.h"
#include "platform/Console.h"
#include "platform/Interrupts.h"

int main(int argc, char** argv) {
    talveco::occupyStandardDescriptors();
    talveco::ignoreFatalWriteSignals();
    talveco::installInterruptCleanup();
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    talveco::Console out(1);
    talveco::Console messages(2);
    return talveco::runDecoder(arguments, out, messages);
}
