// The libFuzzer entry point of one harness.
#include "tests/fuzz/fuzzinput.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Some targets use Qt objects that expect an application; it lives as long as the run.
    new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzOne(data, size);
}
