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
#include <vector>

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

// The lines of the file, each with its line feed.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> v;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
        v.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    return v;
}

std::string_view Word(std::string_view line) {
    std::string_view word, value;
    SplitLine(line.substr(0, line.find('\n')), &word, &value);
    return word;
}

// Words that start a new stanza (interfaces(5)).
bool StanzaStart(std::string_view w) {
    return w == "iface" || w == "mapping" || w == "auto" || w == "source" ||
           w == "source-directory" || w.substr(0, 6) == "allow-";
}

// The part of the file the unit edits: the option lines of the stanza of
// eth0 (else of the first interface other than the loopback); in a file
// without interface stanzas, every line outside one. Options may be indented,
// as Debian allows.
struct Target {
    std::string name;     // the interface, "" without stanzas
    std::string method;   // "static", "dhcp", ...
    std::vector<bool> in; // per line: an option line of the target
    size_t end = 0;       // where a missing option line goes
    std::string indent;   // the indentation of its option lines
};

Target FindTarget(const std::vector<std::string_view> &lines) {
    Target t;
    int pick = -1, other = -1;
    for (size_t i = 0; i < lines.size(); i++) {
        if (Word(lines[i]) != "iface") continue;
        std::string_view w, rest;
        SplitLine(lines[i].substr(0, lines[i].find('\n')), &w, &rest);
        std::string_view name = rest.substr(0, rest.find_first_of(" \t"));
        if (name == "eth0" && pick < 0) pick = static_cast<int>(i);
        if (name != "lo" && other < 0) other = static_cast<int>(i);
    }
    if (pick < 0) pick = other;
    t.in.assign(lines.size(), false);
    int stanza = -1; // the iface line of the stanza a line is in, -1 outside one
    for (size_t i = 0; i < lines.size(); i++) {
        std::string_view w = Word(lines[i]);
        if (StanzaStart(w)) {
            stanza = w == "iface" || w == "mapping" ? static_cast<int>(i) : -1;
            if (stanza != pick || pick < 0) continue;
            std::string_view k, rest;
            SplitLine(lines[i].substr(0, lines[i].find('\n')), &k, &rest);
            t.name = std::string(rest.substr(0, rest.find_first_of(" \t")));
            size_t m = rest.find_last_of(" \t");
            t.method =
                m == std::string_view::npos ? std::string() : std::string(rest.substr(m + 1));
            t.end = i + 1;
            continue;
        }
        if (pick >= 0 ? stanza != pick : stanza >= 0) continue;
        t.in[i] = true;
        if (w.empty()) continue;
        t.end = i + 1; // after its last option line
        if (t.indent.empty()) t.indent = std::string(lines[i].substr(0, lines[i].find(w)));
    }
    if (pick < 0 && t.end == 0) t.end = lines.size();
    if (pick >= 0 && t.indent.empty()) t.indent = "    ";
    return t;
}

// The keyword of a name server line: the resolvconf form in a stanza.
bool DnsWord(std::string_view w) {
    return w == "nameserver" || w == "dns-nameservers";
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

namespace {
void RootReadOnly();
} // namespace

int RestoreLanFile(const std::string &text) {
    if (RunShell(ResolveCommand("mount") + " -o remount defaults,rw " + ResolvePath("/")) != 0) {
        LogErrTrace("can't mount rw / %d", errno);
        return -1;
    }
    int r = WriteFileSafe(kInterfaces, text, false);
    RootReadOnly();
    return r;
}

namespace {

// What the target's lines hold: per entry the last line that reads (an
// address, or an empty gateway or name server: none), its bytes and text.
struct Found {
    int line[4] = {-1, -1, -1, -1};
    bool have[4] = {};
    uint8_t bytes[4][4] = {};
    std::string text[4];
    std::string prefix;
};

Found Scan(const std::vector<std::string_view> &lines, const Target &t, bool trace) {
    Found f;
    for (size_t n = 0; n < lines.size(); n++) {
        if (!t.in[n]) continue;
        std::string_view word, value;
        SplitLine(lines[n].substr(0, lines[n].find('\n')), &word, &value);
        int i = 0;
        while (i < 4 && word != kEntries[i].keyword && !(i == 3 && DnsWord(word)))
            i++;
        if (i == 4) continue;
        const LanEntry &e = kEntries[i];
        // dns-nameservers lists servers: the first is the one shown.
        if (word == "dns-nameservers") value = value.substr(0, value.find_first_of(" \t"));
        std::string v(value), prefix;
        if (v.empty() && (i == 2 || i == 3)) {
            // "gateway " with no address: none.
            f.line[i] = static_cast<int>(n);
            f.have[i] = false;
            f.text[i].clear();
        } else if (ReadAddress(i, v, f.bytes[i], &prefix)) {
            // (A value longer than the text slot is refused: the text
            // shown would be cut and no longer name the address used.)
            f.line[i] = static_cast<int>(n);
            f.have[i] = true;
            f.text[i] = v;
            if (i == 0) f.prefix = prefix;
            if (trace && e.readTrace != nullptr) Trace(e.readTrace, v.c_str());
        } else if (trace) {
            Trace("ReadLanParam: %s \"%s\" refused\n", e.keyword, v.c_str());
            LogErr("network settings: %s %s refused", e.keyword, v.c_str());
        }
    }
    return f;
}

} // namespace

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
    std::vector<std::string_view> lines = SplitLines(content);
    Target t = FindTarget(lines);
    LogInfo("network settings: %s", t.name.empty() ? "a file without interface stanzas"
                                                   : ("the stanza of " + t.name).c_str());
    Found f = Scan(lines, t, true);
    for (int i = 0; i < 4; i++)
        std::snprintf(kEntries[i].text, 32, "%s", f.text[i].c_str());
    if (f.have[0]) gPrefix = f.prefix;
    for (int i = 0; i < 2; i++)
        if (f.have[i]) std::memcpy(kEntries[i].bytes, f.bytes[i], 4);
    if (f.have[2]) {
        std::memcpy(Gateway_v, f.bytes[2], 4);
        Gateway_none = 0;
        Trace("gateway: %s\n", Gateway);
    } else {
        // None: an address the operator then sets starts from 0.0.0.0, not
        // from an earlier reading's.
        std::memset(Gateway_v, 0, 4);
        Gateway_none = 1;
    }
    if (f.have[3]) {
        std::memcpy(DNS_v, f.bytes[3], 4);
        DNS_none = 0;
        Trace("DNS: %s\n", DNS);
    } else {
        std::memset(DNS_v, 0, 4);
        DNS_none = 1;
    }
    RememberValues();
    Trace("ReadLanParam DNS_none=%d Gateway_none=%d\n", DNS_none, Gateway_none);
    return 0;
}

namespace {

// The root file system back to read-only after a save (or a failed one).
void RootReadOnly() {
    if (RunShell(ResolveCommand("mount") + " -v -n -o remount -r " + ResolvePath("/")) != 0)
        LogErr("can't mount / read-only again");
}

// The new text of the file with the changed values written into the lines
// they were read from (their indentation and, for dns-nameservers, the
// servers after the first kept) and the missing ones added to the stanza.
// -1 (logged) when a change cannot be written.
int Rewrite(const std::string &content, std::string *out) {
    std::vector<std::string_view> lines = SplitLines(content);
    Target t = FindTarget(lines);
    Found f = Scan(lines, t, false);
    const uint8_t *now[4] = {IP_v, NetMask_v, Gateway_v, DNS_v};
    const bool none[4] = {false, false, Gateway_none != 0, DNS_none != 0};
    std::vector<std::string> put(lines.begin(), lines.end());
    std::string added;
    for (int i = 0; i < 4; i++) {
        if (Unchanged(i, now[i], none[i])) continue;
        if (!t.name.empty() && t.method != "static") {
            LogErrTrace("network settings: %s is not a static stanza (inet %s); nothing saved\n",
                        t.name.c_str(), t.method.c_str());
            return -1;
        }
        int n = f.line[i];
        std::string kw = kEntries[i].keyword, indent = t.indent, tail;
        if (n >= 0) {
            std::string_view l = lines[static_cast<size_t>(n)];
            std::string_view w = Word(l);
            indent = std::string(l.substr(0, l.find(w)));
            kw = std::string(w);
            std::string_view word, value;
            SplitLine(l.substr(0, l.find('\n')), &word, &value);
            size_t more = value.find_first_of(" \t");
            if (kw == "dns-nameservers" && more != std::string_view::npos && !none[i])
                tail = std::string(value.substr(more));
        } else if (none[i]) {
            continue; // no line and none wanted
        } else if (i == 3 && !t.name.empty()) {
            kw = "dns-nameservers";
        }
        std::string line = AddrLine(kw.c_str(), now[i], none[i], i == 0 ? gPrefix : "");
        line.insert(line.size() - 1, tail);
        if (i == 0) Trace("--->new ip: %s \n", line.c_str());
        if (n >= 0)
            put[static_cast<size_t>(n)] = indent + line;
        else
            added += indent + line;
    }
    out->clear();
    for (size_t n = 0; n <= put.size(); n++) {
        if (n == t.end) {
            if (!added.empty() && !out->empty() && out->back() != '\n') *out += '\n';
            *out += added;
        }
        if (n < put.size()) *out += put[n];
    }
    return 0;
}

} // namespace

int SaveLanParam() {
    if (RunShell(ResolveCommand("mount") + " -o remount defaults,rw " + ResolvePath("/")) != 0) {
        LogErrTrace("can't mount rw / %d", errno);
        return -1;
    }
    std::string content, out;
    if (!ReadFileText(kInterfaces, &content)) {
        Trace("Error opening network connection configuration file. CODE: %d\n", errno);
        RootReadOnly();
        return -1;
    }
    // Only the target stanza's lines of the values the operator changed are
    // rewritten; every other line is written back byte for byte. The
    // interfaces are restarted only once the new file is whole on disk.
    int r = Rewrite(content, &out) == 0 ? WriteFileSafe(kInterfaces, out, false) : -1;
    RootReadOnly();
    if (r != 0) {
        LogErr("network settings not saved");
        return -1;
    }
    RefreshTexts();
    RememberValues();
    return RunShell(ResolveCommand("sudo") + " ifdown --exclude=lo -a && " +
                    ResolveCommand("sudo") + " ifup --exclude=lo -a");
}
