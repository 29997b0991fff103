#include "config/network.h"

#include "config/table_text.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

char IP[32], NetMask[32], Gateway[32], DNS[32], MAC[32];
uint8_t IP_v[4], NetMask_v[4], Gateway_v[4], DNS_v[4];
char Gateway_none, DNS_none;

namespace {

const char kInterfaces[] = "/etc/network/interfaces";

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

// The first word of a line (leading blanks skipped) and the rest after the
// blank that ends it, trimmed of blanks and a carriage return at both ends.
void SplitLine(std::string_view line, std::string_view *word, std::string_view *value) {
    size_t at = 0;
    while (at < line.size() && Blank(line[at]))
        at++;
    size_t end = at;
    while (end < line.size() && !Blank(line[end]))
        end++;
    *word = line.substr(at, end - at);
    std::string_view rest = end < line.size() ? line.substr(end + 1) : std::string_view();
    while (!rest.empty() && Blank(rest.front()))
        rest.remove_prefix(1);
    while (!rest.empty() && (Blank(rest.back()) || rest.back() == '\r'))
        rest.remove_suffix(1);
    *value = rest;
}

// The first word of a line that starts in the first column, else empty.
std::string_view FirstColumnWord(std::string_view line) {
    if (line.empty() || Blank(line[0])) return std::string_view();
    size_t end = 0;
    while (end < line.size() && !Blank(line[end]) && line[end] != '\r')
        end++;
    return line.substr(0, end);
}

struct LanEntry {
    const char *keyword;
    char *text;
    uint8_t *bytes;
    const char *readTrace; // printed as the line is read, or null
};

const LanEntry kEntries[] = {
    {"address", IP, IP_v, "ip: %s\n"},
    {"netmask", NetMask, NetMask_v, "NetMask: %s\n"},
    {"gateway", Gateway, Gateway_v, nullptr},
    {"nameserver", DNS, DNS_v, nullptr},
};

std::string AddrLine(const char *keyword, const uint8_t bytes[4], bool none,
                     const std::string &suffix = std::string()) {
    char line[64];
    if (none)
        std::snprintf(line, sizeof line, "%s \n", keyword);
    else
        std::snprintf(line, sizeof line, "%s %d.%d.%d.%d%s\n", keyword, bytes[0], bytes[1],
                      bytes[2], bytes[3], suffix.c_str());
    return line;
}

// The values as read (or last saved), so that a save rewrites only the
// addresses the operator changed and leaves every other line byte for byte.
struct ReadValue {
    bool none = false;
    uint8_t bytes[4] = {};
};
ReadValue gRead[4];
char *const kNone[4] = {nullptr, nullptr, &Gateway_none, &DNS_none};

void RememberValues() {
    for (int i = 0; i < 4; i++) {
        gRead[i].none = kNone[i] != nullptr && *kNone[i] != 0;
        std::memcpy(gRead[i].bytes, kEntries[i].bytes, 4);
    }
}
// The prefix length of the address line ("/24"), kept when it is rewritten.
std::string gPrefix;

bool Unchanged(int entry, const uint8_t bytes[4], bool none);

// The texts the status page shows follow the addresses just written.
void RefreshTexts() {
    for (int i = 0; i < 4; i++) {
        const LanEntry &e = kEntries[i];
        bool none = kNone[i] != nullptr && *kNone[i] != 0;
        if (Unchanged(i, e.bytes, none)) continue;
        char addr[16];
        SplitAddrInv(addr, e.bytes);
        std::snprintf(e.text, 32, "%s%s", none ? "" : addr, none || i != 0 ? "" : gPrefix.c_str());
    }
}

// An address "a.b.c.d", or for "address" also "a.b.c.d/n" (n 0..32); the
// whole value must read, or it is refused.
bool ReadAddress(int entry, const std::string &v, uint8_t bytes[4], std::string *prefix) {
    size_t slash = entry == 0 ? v.find('/') : std::string::npos;
    std::string addr = v.substr(0, slash);
    prefix->clear();
    if (slash != std::string::npos) {
        std::string n = v.substr(slash + 1);
        if (n.empty() || n.size() > 2 || n.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(n) > 32)
            return false;
        *prefix = "/" + n;
    }
    return addr.size() < sizeof IP && SplitAddr(addr.c_str(), bytes) == 0;
}

bool Unchanged(int entry, const uint8_t bytes[4], bool none) {
    const ReadValue &r = gRead[entry];
    if (none || r.none) return none == r.none;
    return std::memcmp(bytes, r.bytes, 4) == 0;
}

} // namespace

int SplitAddr(const char *text, uint8_t bytes[4]) {
    if (text == nullptr) return -1;
    const char *p = text;
    while (Blank(*p))
        p++;
    uint8_t got[4];
    for (int g = 0; g < 4; g++) {
        if (g > 0) {
            if (*p != '.') return -1;
            p++;
        }
        if (*p < '0' || *p > '9') return -1;
        int v = 0;
        while (*p >= '0' && *p <= '9') {
            v = v * 10 + (*p - '0');
            if (v > 255) return -1;
            p++;
        }
        got[g] = static_cast<uint8_t>(v);
    }
    while (Blank(*p))
        p++;
    if (*p != '\0') return -1; // more than an address (a fifth group, a suffix)
    std::memcpy(bytes, got, 4);
    return 0;
}

void SplitAddrInv(char *text, const uint8_t bytes[4]) {
    std::snprintf(text, 16, "%i.%i.%i.%i", bytes[0], bytes[1], bytes[2], bytes[3]);
}

int CheckLanText(const std::string &text, std::string *why) {
    int n = 0;
    std::string_view rest(text);
    while (!rest.empty()) {
        size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        n++;
        std::string_view word, value;
        SplitLine(line, &word, &value);
        for (int i = 0; i < 4; i++) {
            if (word != kEntries[i].keyword) continue;
            std::string v(value);
            uint8_t bytes[4];
            std::string prefix;
            if (!(v.empty() && (i == 2 || i == 3)) && !ReadAddress(i, v, bytes, &prefix))
                return Refuse(why, n, std::string(kEntries[i].keyword) + " \"" + v + "\" refused");
        }
    }
    return 0;
}

int RestoreLanFile(const std::string &text) {
    if (RunShell(ResolveCommand("mount") + " -o remount defaults,rw " + ResolvePath("/")) != 0) {
        LogErrTrace("can't mount rw / %d", errno);
        return -1;
    }
    return WriteFileSafe(kInterfaces, text, false);
}

int ReadLanParam() {
    DNS[0] = '\0';
    Gateway[0] = '\0';
    std::string content;
    if (!ReadFileText(kInterfaces, &content)) {
        Trace("Error opening network connection configuration file. CODE: %d\n", errno);
        return -1;
    }
    for (const LanEntry &e : kEntries)
        e.text[0] = '\0';
    MAC[0] = '\0';

    // Bytes of the last acceptable line of each keyword.
    uint8_t found[4][4];
    bool have[4] = {};
    std::string prefix;
    std::string_view rest(content);
    while (!rest.empty()) {
        size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        std::string_view word, value;
        SplitLine(line, &word, &value);
        for (int i = 0; i < 4; i++) {
            const LanEntry &e = kEntries[i];
            if (word != e.keyword) continue;
            std::string v(value);
            if (v.empty() && (i == 2 || i == 3)) {
                // "gateway " with no address: none.
                have[i] = false;
                e.text[0] = '\0';
            } else if (ReadAddress(i, v, found[i], &prefix)) {
                // (A value longer than the text slot is refused: the text
                // shown would be cut and no longer name the address used.)
                have[i] = true;
                if (i == 0) gPrefix = prefix;
                std::snprintf(e.text, 32, "%s", v.c_str());
                if (e.readTrace != nullptr) Trace(e.readTrace, e.text);
            } else {
                Trace("ReadLanParam: %s \"%s\" refused\n", e.keyword, v.c_str());
                LogErr("network settings: %s %s refused", e.keyword, v.c_str());
            }
        }
    }
    for (int i = 0; i < 2; i++)
        if (have[i]) std::memcpy(kEntries[i].bytes, found[i], 4);
    if (have[2]) {
        std::memcpy(Gateway_v, found[2], 4);
        Gateway_none = 0;
        Trace("gateway: %s\n", Gateway);
    } else {
        Gateway_none = 1;
    }
    if (have[3]) {
        std::memcpy(DNS_v, found[3], 4);
        DNS_none = 0;
        Trace("DNS: %s\n", DNS);
    } else {
        DNS_none = 1;
    }
    RememberValues();
    Trace("ReadLanParam DNS_none=%d Gateway_none=%d\n", DNS_none, Gateway_none);
    return 0;
}

int SaveLanParam() {
    if (RunShell(ResolveCommand("mount") + " -o remount defaults,rw " + ResolvePath("/")) != 0) {
        LogErrTrace("can't mount rw / %d", errno);
        return -1;
    }
    std::string content;
    if (!ReadFileText(kInterfaces, &content)) {
        Trace("Error opening network connection configuration file. CODE: %d\n", errno);
        return -1;
    }
    // Every line is kept byte for byte except the address lines that start in
    // the first column and whose value the operator changed, which are
    // written from the byte arrays.
    std::string out;
    out.reserve(content.size() + 64);
    size_t at = 0;
    while (at < content.size()) {
        size_t nl = content.find('\n', at);
        size_t end = nl == std::string::npos ? content.size() : nl + 1;
        std::string_view line(content.data() + at, end - at);
        std::string_view word = FirstColumnWord(line.substr(0, line.find('\n')));
        if (word == "address" && !Unchanged(0, IP_v, false)) {
            std::string n = AddrLine("address", IP_v, false, gPrefix);
            Trace("--->new ip: %s \n", n.c_str());
            out += n;
        } else if (word == "netmask" && !Unchanged(1, NetMask_v, false)) {
            out += AddrLine("netmask", NetMask_v, false);
        } else if (word == "gateway" && !Unchanged(2, Gateway_v, Gateway_none != 0)) {
            out += AddrLine("gateway", Gateway_v, Gateway_none != 0);
        } else if (word == "nameserver" && !Unchanged(3, DNS_v, DNS_none != 0)) {
            out += AddrLine("nameserver", DNS_v, DNS_none != 0);
        } else {
            out.append(line);
        }
        at = end;
    }
    // The interfaces are restarted only once the new file is whole on disk.
    if (WriteFileSafe(kInterfaces, out, false) != 0) return -1;
    RefreshTexts();
    RememberValues();
    return RunShell(ResolveCommand("sudo") + " ifdown --exclude=lo -a && " +
                    ResolveCommand("sudo") + " ifup --exclude=lo -a");
}
