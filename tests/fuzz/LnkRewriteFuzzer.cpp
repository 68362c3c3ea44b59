// libFuzzer entry point for changing a shortcut's target: every input must
// keep the property RewriteCheck states, or the run stops with its fault.

#include "RewriteCheck.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (const char *fault = RewriteCheck::rewriteFault(data, size)) {
        std::fprintf(stderr, "LnkRewriteFuzzer: %s\n", fault);
        std::abort();
    }
    return 0;
}
