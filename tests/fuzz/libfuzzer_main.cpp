// The libFuzzer entry of one target, chosen by SONAVIK_FUZZ_TARGET when it is compiled.

#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return sonavik::fuzz::SONAVIK_FUZZ_TARGET(data, size);
}
