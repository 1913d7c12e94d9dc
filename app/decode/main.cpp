#include "app/decode/DecodeRun.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
    const auto arguments = talveco::startProgram(argc, argv);
    talveco::Console out(1);
    talveco::Console messages(2);
    return talveco::runDecoder(arguments, out, messages);
}
