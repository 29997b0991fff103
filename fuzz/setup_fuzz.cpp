// Fuzz target over the setup file: the input becomes /opt/set/setup.txt in a
// scratch root and the setup reader takes it. The text written back from what
// was read must fit the writer's buffer, and reading that text again must
// give the same text (what the unit saves, it reads back unchanged).
#include "config/setup.h"
#include "fuzz_root.h"

#include <cstdint>
#include <cstdio>
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
    std::string second(out, len);
    if (second != first) {
        size_t at = 0;
        while (at < first.size() && at < second.size() && first[at] == second[at])
            at++;
        size_t from = first.rfind('\n', at);
        from = from == std::string::npos ? 0 : from + 1;
        std::fprintf(stderr, "written: %.60s\nread back: %.60s\n", first.c_str() + from,
                     second.c_str() + from);
        std::abort();
    }
    return 0;
}
