#include <string>
#include <vector>

#include "app/AcmSource.h"
#include "app/Driver.h"
#include "platform/Console.h"
#include "platform/Interrupts.h"

int main(int argc, char** argv) {
    talveco::occupyStandardDescriptors();
    talveco::ignoreFatalWriteSignals();
    talveco::installInterruptCleanup();
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    talveco::Console console;
    talveco::Console warnings(2);
    talveco::AcmSource source;
    return talveco::runDriver(arguments, source, console, warnings);
}
