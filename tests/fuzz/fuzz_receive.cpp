// libFuzzer entry point: a broken rule is reported and aborts, so that the
// fuzzer keeps the input that broke it.

#include "ReceiveDriver.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string broken = fuzzcheck::runReceive(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "fuzz_receive: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
