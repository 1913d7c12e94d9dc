#include "app/AcmSource.h"
#include "app/Driver.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
    const auto arguments = talveco::startProgram(argc, argv);
    talveco::Console console;
    talveco::Console warnings(2);
    talveco::AcmSource source;
    return talveco::runDriver(arguments, source, console, warnings);
}
