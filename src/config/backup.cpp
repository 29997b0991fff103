#include "config/backup.h"

#include "config/antenna_banks.h"
#include "config/band_table.h"
#include "config/fan_table.h"
#include "config/filter_table.h"
#include "config/network.h"
#include "config/options.h"
#include "config/setup.h"
#include "config/tuner_memory.h"
#include "model/version.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/shell.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

namespace {

enum class Kind { Setup, Options, Bands, Fan, Filter, Antenna, TunerMemory, Lines, Network };

struct SettingsFile {
    std::string path; // unit path
    Kind kind;
};

const char *const kNetworkFile = "/etc/network/interfaces";
constexpr size_t kMaxFileBytes = 16u << 20; // far beyond any settings file
// An archive larger than this is refused before it is read.
constexpr size_t kMaxArchiveBytes = 32u << 20;
constexpr size_t kBlock = 512;

// Every file a backup holds, in the order it holds them: the tables read at
// start-up, then each bank's antenna table and tuner memories (bank 0 is the
// unnumbered set), the fault history and the network file.
const std::vector<SettingsFile> &SettingsFiles() {
    static const std::vector<SettingsFile> files = [] {
        std::vector<SettingsFile> f = {{"/opt/set/setup.txt", Kind::Setup},
                                       {"/opt/set/options.txt", Kind::Options},
                                       {"/opt/set/config.txt", Kind::Bands},
                                       {"/opt/set/ventola.txt", Kind::Fan},
                                       {"/opt/set/filter.txt", Kind::Filter}};
        for (int bank = 0; bank < 20; bank++) {
            f.push_back({BankAntennaFile(bank), Kind::Antenna});
            for (int ant = 1; ant <= 3; ant++)
                f.push_back({BankAtuFile(bank, ant), Kind::TunerMemory});
        }
        f.push_back({"/opt/set/faults.txt", Kind::Lines});
        f.push_back({"/opt/set/faults.txt.1", Kind::Lines});
        f.push_back({kNetworkFile, Kind::Network});
        return f;
    }();
    return files;
}

const SettingsFile *FindSettingsFile(const std::string &path) {
    for (const SettingsFile &f : SettingsFiles())
        if (f.path == path) return &f;
    return nullptr;
}

std::string Sha256Hex(const std::string &data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, EVP_sha256(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < n; i++) {
        std::snprintf(two, sizeof two, "%02x", md[i]);
        hex += two;
    }
    return hex;
}

// A ustar header field: `width` - 1 octal digits and a NUL.
void PutOctal(char *field, size_t width, uint64_t v) {
    field[width - 1] = '\0';
    for (size_t i = width - 1; i-- > 0; v /= 8)
        field[i] = static_cast<char>('0' + v % 8);
}

bool GetOctal(const char *field, size_t width, uint64_t *v) {
    size_t i = 0;
    while (i < width && field[i] == ' ')
        i++;
    uint64_t x = 0;
    size_t digits = 0;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; i++, digits++)
        x = x * 8 + static_cast<uint64_t>(field[i] - '0');
    for (; i < width; i++)
        if (field[i] != ' ' && field[i] != '\0') return false;
    *v = x;
    return digits > 0;
}

// The checksum of a header: every byte, the checksum field counted as blanks.
unsigned HeaderSum(const unsigned char *h) {
    unsigned sum = 0;
    for (size_t i = 0; i < kBlock; i++)
        sum += i >= 148 && i < 156 ? ' ' : h[i];
    return sum;
}

std::string Header(const std::string &name, size_t size, int64_t mtime) {
    char h[kBlock] = {};
    std::memcpy(h, name.data(), std::min<size_t>(name.size(), 99));
    PutOctal(h + 100, 8, 0644);
    PutOctal(h + 108, 8, 0);
    PutOctal(h + 116, 8, 0);
    PutOctal(h + 124, 12, size);
    PutOctal(h + 136, 12, static_cast<uint64_t>(mtime < 0 ? 0 : mtime));
    h[156] = '0';
    std::memcpy(h + 257, "ustar", 6);
    std::memcpy(h + 263, "00", 2);
    std::memcpy(h + 265, "root", 4);
    std::memcpy(h + 297, "root", 4);
    PutOctal(h + 148, 7, HeaderSum(reinterpret_cast<const unsigned char *>(h)));
    h[155] = ' ';
    return std::string(h, kBlock);
}

std::string Manifest(const std::vector<ArchiveMember> &members) {
    std::string m = "helix-backup 1\nversion " + std::string(kSwVersion) + "\nfiles " +
                    std::to_string(members.size()) + "\n";
    for (const ArchiveMember &f : members)
        m += Sha256Hex(f.data) + " " + std::to_string(f.data.size()) + " " + f.name + "\n";
    return m;
}

// Checks the manifest against the members; 0, or -1 with why.
int CheckManifest(const std::string &text, const std::vector<ArchiveMember> &members,
                  std::string *why) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) {
            *why = "MANIFEST is cut short";
            return -1;
        }
        lines.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    unsigned long count = 0;
    if (lines.size() < 3 || lines[0] != "helix-backup 1" || lines[1].rfind("version ", 0) != 0 ||
        std::sscanf(lines[2].c_str(), "files %lu", &count) != 1 || count != lines.size() - 3) {
        *why = "MANIFEST is not a helix backup manifest";
        return -1;
    }
    std::map<std::string, const ArchiveMember *> byName;
    for (const ArchiveMember &m : members)
        byName[m.name] = &m;
    std::set<std::string> listed;
    for (size_t i = 3; i < lines.size(); i++) {
        char sha[65] = {};
        unsigned long size = 0;
        int used = 0;
        const std::string &l = lines[i];
        if (std::sscanf(l.c_str(), "%64[0-9a-f] %lu %n", sha, &size, &used) != 2 || used <= 0 ||
            std::strlen(sha) != 64) {
            *why = "MANIFEST line " + std::to_string(i + 1) + " is damaged";
            return -1;
        }
        std::string name = l.substr(static_cast<size_t>(used));
        auto it = byName.find(name);
        if (it == byName.end() || !listed.insert(name).second) {
            *why = "MANIFEST lists " + name + ", which the archive does not hold once";
            return -1;
        }
        if (it->second->data.size() != size || Sha256Hex(it->second->data) != sha) {
            *why = name + " does not match its size and checksum in MANIFEST";
            return -1;
        }
    }
    if (listed.size() != members.size()) {
        *why = "the archive holds files that MANIFEST does not list";
        return -1;
    }
    return 0;
}

// The unit's files now in place; false when one exists but cannot be read.
bool ReadSettings(std::vector<ArchiveMember> *members, std::string *err) {
    for (const SettingsFile &f : SettingsFiles()) {
        std::string data;
        errno = 0;
        if (!ReadFileText(f.path.c_str(), &data)) {
            if (errno == ENOENT) continue;
            *err += "cannot read " + f.path + ": " + std::strerror(errno) + "\n";
            return false;
        }
        // An append may be under way: only its whole lines are taken.
        if (f.kind == Kind::Lines) data.resize(data.rfind('\n') + 1);
        members->push_back({f.path.substr(1), data});
    }
    return true;
}

std::string TimeStamp(int64_t t) {
    time_t tt = static_cast<time_t>(t);
    struct tm tmv {};
    gmtime_r(&tt, &tmv);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &tmv);
    return text;
}

} // namespace

std::string MakeArchive(const std::vector<ArchiveMember> &members, int64_t mtime) {
    std::vector<ArchiveMember> all;
    all.push_back({"MANIFEST", Manifest(members)});
    all.insert(all.end(), members.begin(), members.end());
    std::string out;
    for (const ArchiveMember &m : all) {
        out += Header(m.name, m.data.size(), mtime);
        out += m.data;
        out.append((kBlock - m.data.size() % kBlock) % kBlock, '\0');
    }
    out.append(2 * kBlock, '\0'); // the end of the archive
    return out;
}

int ReadArchive(const std::string &bytes, std::vector<ArchiveMember> *members, std::string *why) {
    std::vector<ArchiveMember> all;
    size_t pos = 0;
    bool ended = false;
    while (pos + kBlock <= bytes.size()) {
        const char *h = bytes.data() + pos;
        const unsigned char *u = reinterpret_cast<const unsigned char *>(h);
        if (std::all_of(u, u + kBlock, [](unsigned char c) { return c == 0; })) {
            ended = true;
            break;
        }
        uint64_t sum = 0, size = 0;
        if (!GetOctal(h + 148, 8, &sum) || sum != HeaderSum(u) ||
            std::memcmp(h + 257, "ustar", 5)) {
            *why = "a damaged header at byte " + std::to_string(pos);
            return -1;
        }
        std::string name(h, strnlen(h, 100));
        if ((h[156] != '0' && h[156] != '\0') || h[345] != '\0' || !GetOctal(h + 124, 12, &size)) {
            *why = name + " is not a plain file of a backup";
            return -1;
        }
        pos += kBlock;
        if (size > bytes.size() - pos) {
            *why = name + " is cut short";
            return -1;
        }
        all.push_back({name, bytes.substr(pos, size)});
        pos += (size + kBlock - 1) / kBlock * kBlock;
    }
    if (!ended) {
        *why = "the archive is cut short";
        return -1;
    }
    if (all.empty() || all[0].name != "MANIFEST") {
        *why = "no MANIFEST at its start: not a helix backup";
        return -1;
    }
    std::string manifest = all[0].data;
    all.erase(all.begin());
    if (CheckManifest(manifest, all, why) != 0) return -1;
    *members = std::move(all);
    return 0;
}

int CheckSettingsFile(const std::string &name, const std::string &data, std::string *why) {
    const SettingsFile *f = FindSettingsFile("/" + name);
    if (f == nullptr) {
        *why = "not a settings file";
        return -1;
    }
    if (data.size() > kMaxFileBytes || data.find('\0') != std::string::npos) {
        *why = "not a text file";
        return -1;
    }
    switch (f->kind) {
    case Kind::Setup:
        return CheckSetupText(data, why);
    case Kind::Options:
        return CheckOptionsText(data, why);
    case Kind::Bands:
        return CheckBandTable(data, why);
    case Kind::Fan:
        return CheckFanTable(data, why);
    case Kind::Filter:
        return CheckTabFiltri(data, why);
    case Kind::TunerMemory:
        return CheckAtuText(data, why);
    case Kind::Network:
        return CheckLanText(data, why);
    case Kind::Antenna: {
        AntennaRow rows[kAntRows];
        int count = 0;
        ParseTabConfigText(data, rows, &count, why);
        return why->empty() ? 0 : -1;
    }
    case Kind::Lines:
        if (data.empty() || data.back() == '\n') return 0;
        *why = "its last line is torn";
        return -1;
    }
    return -1;
}

int BackupSettings(const std::string &archive, std::string *out, std::string *err) {
    std::vector<ArchiveMember> members;
    if (!ReadSettings(&members, err)) return kBackupFailed;
    if (members.empty()) {
        *err += "no settings file found under /opt/set\n";
        return kBackupFailed;
    }
    std::string saved;
    for (const ArchiveMember &m : members) {
        saved += "saved /" + m.name + " (" + std::to_string(m.data.size()) + " bytes)\n";
        std::string why;
        if (CheckSettingsFile(m.name, m.data, &why) != 0)
            *err += "warning: /" + m.name + ": " + why +
                    " (a restore refuses this archive until the file is mended)\n";
    }
    if (WriteNamedFileSafe(archive, MakeArchive(members, EpochSeconds())) != 0) {
        *err += "cannot write " + archive + ": " + std::strerror(errno) + "\n";
        return kBackupFailed;
    }
    *out +=
        saved + "backup written to " + archive + ": " + std::to_string(members.size()) + " files\n";
    return kBackupDone;
}

namespace {

// Reads the archive and checks every file in it; kBackupDone when all pass.
int ReadCheckedArchive(const std::string &archive, std::vector<ArchiveMember> *members,
                       std::string *out, std::string *err) {
    std::string bytes, why;
    if (!ReadNamedFileBounded(archive, kMaxArchiveBytes, &bytes)) {
        if (errno == EFBIG) {
            *err += archive + " refused: larger than " + std::to_string(kMaxArchiveBytes >> 20) +
                    " MiB; nothing changed\n";
            return kBackupRefused;
        }
        *err += "cannot read " + archive + ": " + std::strerror(errno) + "\n";
        return kBackupFailed;
    }
    int r = ReadArchive(bytes, members, &why);
    for (size_t i = 0; r == 0 && i < members->size(); i++)
        if (CheckSettingsFile((*members)[i].name, (*members)[i].data, &why) != 0) {
            why = "/" + (*members)[i].name + ": " + why;
            r = -1;
        }
    if (r == 0 && members->empty()) {
        why = "it holds no settings file";
        r = -1;
    }
    if (r != 0) {
        *err += archive + " refused: " + why + "; nothing changed\n";
        return kBackupRefused;
    }
    *out += archive + " checked: " + std::to_string(members->size()) + " files\n";
    return kBackupDone;
}

// Keeps the set in place now whole, in `keep`, before anything is replaced;
// leaves /opt/set writable when it succeeds.
int KeepPrevious(std::vector<ArchiveMember> *previous, std::string *keep, std::string *out,
                 std::string *err) {
    if (!ReadSettings(previous, err)) return kBackupFailed;
    int64_t now = EpochSeconds();
    *keep = "/opt/set/before-restore-" + TimeStamp(now) + ".tar";
    if (RemountRw() != 0) {
        *err += "cannot make /opt/set writable; nothing changed\n";
        return kBackupFailed;
    }
    if (WriteFileSafe(keep->c_str(), MakeArchive(*previous, now), false) != 0) {
        RemountRo();
        *err += "cannot write " + *keep + "; nothing changed\n";
        return kBackupFailed;
    }
    *out += "previous settings kept in " + *keep + "\n";
    return kBackupDone;
}

// Replaces each file whole (a power cut leaves it old or new), then removes
// the settings files the archive does not hold; on a failure puts back what
// was replaced. The network file is left to the caller (*network).
int ReplaceFiles(const std::vector<ArchiveMember> &members,
                 const std::map<std::string, const std::string *> &before, const std::string &keep,
                 const std::string **network, std::string *out, std::string *err) {
    std::set<std::string> restored;
    int status = kBackupDone;
    for (const ArchiveMember &m : members) {
        std::string path = "/" + m.name;
        if (path == kNetworkFile) {
            *network = &m.data;
            continue;
        }
        if (WriteFileSafe(path.c_str(), m.data, false) != 0) {
            *err += "cannot write " + path + "\n";
            status = kBackupFailed;
            break;
        }
        restored.insert(path);
        *out += "restored " + path + "\n";
    }
    for (const SettingsFile &f : SettingsFiles()) {
        if (status != kBackupDone || f.path == kNetworkFile || restored.count(f.path) ||
            before.count(f.path) == 0)
            continue;
        if (RemoveFile(f.path.c_str()) != 0) {
            *err += "cannot remove " + f.path + "\n";
            status = kBackupFailed;
        } else {
            *out += "removed " + f.path + " (not in the archive)\n";
        }
    }
    if (status != kBackupDone) {
        // Half a set is worse than either: the files replaced so far go back.
        for (const std::string &path : restored) {
            auto it = before.find(path);
            if (it != before.end())
                WriteFileSafe(path.c_str(), *it->second, false);
            else
                RemoveFile(path.c_str());
        }
        *err += "the files replaced so far were put back; the previous set is in " + keep + "\n";
    }
    return status;
}

} // namespace

int RestoreSettings(const std::string &archive, std::string *out, std::string *err) {
    std::vector<ArchiveMember> members, previous;
    int status = ReadCheckedArchive(archive, &members, out, err);
    if (status != kBackupDone) return status;
    std::string keep;
    if (KeepPrevious(&previous, &keep, out, err) != kBackupDone) return kBackupFailed;

    std::map<std::string, const std::string *> before;
    for (const ArchiveMember &m : previous)
        before["/" + m.name] = &m.data;
    const std::string *network = nullptr;
    status = ReplaceFiles(members, before, keep, &network, out, err);
    RemountRo();
    if (status != kBackupDone) return status;

    if (network != nullptr) {
        auto it = before.find(kNetworkFile);
        if (it != before.end() && *it->second == *network) {
            *out += "/etc/network/interfaces unchanged\n";
        } else if (RestoreLanFile(*network) != 0) {
            *err += "cannot write /etc/network/interfaces\n";
            return kBackupFailed;
        } else {
            *out += "restored /etc/network/interfaces (used when the interfaces next come up)\n";
        }
    }
    *out += "restore done: " + std::to_string(members.size()) + " files from " + archive + "\n";
    return kBackupDone;
}
