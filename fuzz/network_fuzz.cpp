// Fuzz target over the network file (/etc/network/interfaces): the input
// becomes the file in a scratch root and the address reader takes it. An
// address text it keeps must be one the address splitter accepts.
#include "fuzz_root.h"
#include "config/network.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzroot::Root();
    fuzzroot::PutFile("/etc/network/interfaces", data, size);
    if (ReadLanParam() != 0) std::abort();
    char *texts[] = {IP, NetMask, Gateway, DNS};
    for (char *t : texts) {
        if (std::memchr(t, '\0', 32) == nullptr) std::abort();
        uint8_t b[4];
        if (t[0] != '\0' && SplitAddr(t, b) != 0) std::abort();
    }
    return 0;
}
