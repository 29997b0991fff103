// Fuzz target over the setup file: the input becomes /opt/set/setup.txt in a
// scratch root and the setup reader takes it. The text written back from what
// was read must fit the writer's buffer, and reading that text again must
// give the same text (what the unit saves, it reads back unchanged).
#include "config/setup.h"
#include "fuzz_root.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Works *w = &fuzzroot::Unit()->works;
    fuzzroot::PutFile("/opt/set/setup.txt", data, size);
    readSetup(w);
    static char out[4096];
    size_t len = 0;
    FormatSetupFile(w, out, sizeof out, &len);
    if (len >= sizeof out) std::abort();
    std::string first(out, len);
    fuzzroot::PutFile("/opt/set/setup.txt", reinterpret_cast<const uint8_t *>(out), len);
    readSetup(w);
    FormatSetupFile(w, out, sizeof out, &len);
    if (std::string(out, len) != first) std::abort();
    return 0;
}
