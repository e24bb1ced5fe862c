// A fuzz target with a planted signed overflow, built only to show that the
// fuzz stage fails on a sanitizer report. Never in the list of real targets.

#include <climits>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || data[0] != 'Y') return 0;
    // A "year" scaled the way a careless date reader would: overflows for
    // any second byte above 0.
    volatile int year = INT_MAX - 10;
    volatile int add = data[1];
    volatile int sum = year + add * 16;
    (void)sum;
    return 0;
}
