#include "panel_web.h"

#include "config/antenna_banks.h"
#include "remote/access.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <png.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

bool PanelReadScreen(const std::string &fbPath, std::vector<uint8_t> *bgrx) {
    const size_t size = static_cast<size_t>(kPanelScreenW) * kPanelScreenH * 4;
    int fd = open(fbPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bgrx->resize(size);
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, bgrx->data() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    return got == size;
}

namespace {

void AppendPng(png_structp png, png_bytep data, png_size_t len) {
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<char *>(data), len);
}
void FlushPng(png_structp) {}
void PngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

} // namespace

int PanelEncodePng(const uint8_t *bgrx, int width, int height, std::string *out) {
    out->clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, nullptr);
    if (png == nullptr) return -1;
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        return -1;
    }
    png_set_write_fn(png, out, AppendPng, FlushPng);
    png_set_compression_level(png, 1);
    png_set_filter(png, 0, PNG_FILTER_SUB);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; y++) {
        const uint8_t *p = bgrx + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; x++) {
            row[x * 3] = p[x * 4 + 2];
            row[x * 3 + 1] = p[x * 4 + 1];
            row[x * 3 + 2] = p[x * 4];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 0;
}

int PanelSendLine(const std::string &fifo, const std::string &line, std::string *why) {
    if (line.empty() || line.size() > 200 || line.find_first_of("\r\n") != std::string::npos) {
        *why = "a control line is one line of 1 to 200 characters";
        return -1;
    }
    struct stat st {};
    if (stat(fifo.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
        *why = fifo + ": no control FIFO (is the simulator running?)";
        return -1;
    }
    // Non-blocking: with no reader the open fails at once (ENXIO) instead of
    // hanging the request.
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why =
            fifo + ": " + (errno == ENXIO ? "the simulator is not running" : std::strerror(errno));
        return -1;
    }
    std::string text = line + "\n";
    ssize_t n = write(fd, text.data(), text.size()); // under PIPE_BUF: all or nothing
    int err = errno;
    close(fd);
    if (n != static_cast<ssize_t>(text.size())) {
        *why = fifo + ": " + std::strerror(err);
        return -1;
    }
    return 0;
}

int PanelSetMicro(const std::string &root, const std::string &key, int value) {
    if (key != "version" && key != "v12" && key != "v15" && key != "vamp") return -1;
    if (value < 0 || value > 255) return -1;
    std::string path = root + "/panel-micro.txt";
    std::ifstream in(path);
    std::string line, text;
    bool done = false;
    char buf[32];
    std::snprintf(buf, sizeof buf, key == "version" ? "%s 0x%02x" : "%s %d", key.c_str(), value);
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first == key) {
            if (done) continue;
            line = buf;
            done = true;
        }
        text += line + "\n";
    }
    if (!done) text += std::string(buf) + "\n";
    // Written beside and renamed, so the unit never reads half a file.
    std::string tmp = path + ".new";
    std::ofstream out(tmp, std::ios::trunc);
    out << text;
    out.close();
    if (!out || std::rename(tmp.c_str(), path.c_str()) != 0) return -1;
    return 0;
}

std::vector<std::string> PanelTail(const std::string &path, size_t maxLines) {
    std::vector<std::string> lines;
    FILE *f = std::fopen(path.c_str(), "re");
    if (f == nullptr) return lines;
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    long from = std::max(0L, size - 65536L);
    std::fseek(f, from, SEEK_SET);
    std::string text(static_cast<size_t>(size - from), '\0');
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    size_t start = 0;
    if (from > 0) { // the first line is cut
        size_t nl = text.find('\n');
        start = nl == std::string::npos ? text.size() : nl + 1;
    }
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    if (lines.size() > maxLines)
        lines.erase(lines.begin(), lines.end() - static_cast<long>(maxLines));
    return lines;
}

void PanelErrorsFeed(PanelErrorList *list, const std::string &text) {
    list->partial += text;
    size_t start = 0, nl;
    while ((nl = list->partial.find('\n', start)) != std::string::npos) {
        std::string line = list->partial.substr(start, nl - start);
        start = nl + 1;
        int n = 0, code = -1;
        bool add = false;
        const char *s = line.c_str();
        const char *p;
        if ((p = std::strstr(s, "STOP RETRAY!! ")) != nullptr && std::strlen(p) >= 16) {
            list->commText = "Err " + std::string(p + 14, 2);
            continue;
        }
        if ((p = std::strstr(s, "AMPL TRIP: ")) != nullptr) {
            list->tripText = p + 11;
            continue;
        }
        if ((p = std::strstr(s, "Add: N: ")) != nullptr &&
            std::sscanf(p, "Add: N: %d err:%d", &n, &code) == 2)
            add = true;
        else if ((p = std::strstr(s, "Del ERROR: N: ")) != nullptr)
            std::sscanf(p, "Del ERROR: N: %d err:%d", &n, &code);
        else if ((p = std::strstr(s, "Del temp err: ")) != nullptr)
            std::sscanf(p, "Del temp err: %d", &code);
        if (code < 0 || code > 99) continue;
        auto it = std::find(list->codes.begin(), list->codes.end(), code);
        if (add && it == list->codes.end())
            list->codes.push_back(code);
        else if (!add && it != list->codes.end())
            list->codes.erase(it);
    }
    list->partial.erase(0, start);
    if (list->partial.size() > 4096) list->partial.clear();
}

void PanelErrorsUpdate(PanelErrorList *list, const std::string &tracePath) {
    FILE *f = std::fopen(tracePath.c_str(), "re");
    if (f == nullptr) return;
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    if (size < list->offset) *list = PanelErrorList{}; // a new run
    std::fseek(f, list->offset, SEEK_SET);
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        PanelErrorsFeed(list, std::string(buf, n));
        list->offset += static_cast<long>(n);
    }
    std::fclose(f);
}

void PanelFoldFeed(PanelFold *fold, const std::string &text) {
    fold->partial += text;
    size_t start = 0, nl;
    constexpr size_t kLookBack = 4;
    while ((nl = fold->partial.find('\n', start)) != std::string::npos) {
        std::string line = fold->partial.substr(start, nl - start);
        start = nl + 1;
        auto &e = fold->entries;
        bool folded = false;
        for (size_t i = e.size(); i > 0 && i + kLookBack > e.size(); i--)
            if (e[i - 1].line == line) {
                e[i - 1].count++;
                folded = true;
                break;
            }
        if (folded) continue;
        e.push_back({line, 1});
        if (e.size() > fold->keep) e.erase(e.begin());
    }
    fold->partial.erase(0, start);
    if (fold->partial.size() > 4096) fold->partial.clear();
}

void PanelFoldUpdate(PanelFold *fold, const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "re");
    if (f == nullptr) return;
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    if (size < fold->offset) { // a new run
        size_t keep = fold->keep;
        *fold = PanelFold{};
        fold->keep = keep;
    }
    // A long file read for the first time: its last megabyte is enough.
    constexpr long kFirstRead = 1 << 20;
    if (fold->offset == 0 && size > kFirstRead) {
        fold->offset = size - kFirstRead;
        fold->partial = "\n"; // the first line is cut: dropped as an empty line
    }
    std::fseek(f, fold->offset, SEEK_SET);
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        PanelFoldFeed(fold, std::string(buf, n));
        fold->offset += static_cast<long>(n);
    }
    std::fclose(f);
}

std::vector<std::string> PanelFoldLines(const PanelFold &fold) {
    std::vector<std::string> out;
    for (const PanelFold::Entry &e : fold.entries) {
        if (e.line.empty()) continue; // nothing to show, however often
        std::string line = e.line;
        if (e.count > 1) {
            std::string digits = std::to_string(e.count), grouped;
            for (size_t i = 0; i < digits.size(); i++) {
                if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
                grouped += digits[i];
            }
            line += " \u00d7" + grouped;
        }
        out.push_back(line);
    }
    return out;
}

bool PanelDefaultPhrase(const std::string &root) {
    std::string phrase = kWsFactoryPhrase, bind, line;
    char server = '1';
    std::ifstream setup(root + "/opt/set/setup.txt");
    while (std::getline(setup, line))
        if (line.rfind("WebSocket: ", 0) == 0 && line.size() > 11) server = line[11];
    std::ifstream options(root + "/opt/set/options.txt");
    while (std::getline(options, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("AccessPhrase: ", 0) == 0 && line.size() > 14) phrase = line.substr(14);
        if (line.rfind("RemoteBind: ", 0) == 0) bind = line.substr(12);
    }
    return WsDefaultPhraseExposed(server, phrase.c_str(), bind.c_str());
}

std::string PanelWorkingMode(const std::string &root) {
    int bank = 1;
    std::ifstream setup(root + "/opt/set/setup.txt");
    std::string line;
    while (std::getline(setup, line))
        if (line.rfind("NumBanco: ", 0) == 0) bank = std::atoi(line.c_str() + 10);
    std::ifstream antenna(root + BankAntennaFile(bank));
    if (!antenna) return "";
    // As the bank loader reads it: the last marker counts, none is generic.
    std::string mode = "gen";
    while (std::getline(antenna, line)) {
        size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line[at] != '!') continue;
        static const char *const kModes[][2] = {
            {"Gen", "gen"}, {"Tav", "tav"}, {"817", "ft817"}, {"Net", "net"}, {"Udp", "udp"}};
        for (const auto &m : kModes)
            if (line.compare(at + 1, 3, m[0]) == 0) mode = m[1];
    }
    return mode;
}

std::string PanelRadioInfo(int nr, int32_t hz, int active, bool transmitting) {
    char text[600];
    std::snprintf(text, sizeof text,
                  "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<RadioInfo>\r\n"
                  "  <app>helix-sim-panel</app>\r\n  <StationName>SIM</StationName>\r\n"
                  "  <RadioNr>%d</RadioNr>\r\n  <Freq>%d</Freq>\r\n  <TXFreq>%d</TXFreq>\r\n"
                  "  <Mode>USB</Mode>\r\n  <IsSplit>False</IsSplit>\r\n"
                  "  <FocusRadioNr>%d</FocusRadioNr>\r\n  <ActiveRadioNr>%d</ActiveRadioNr>\r\n"
                  "  <IsTransmitting>%s</IsTransmitting>\r\n</RadioInfo>\r\n",
                  nr, hz / 10, hz / 10, active, active, transmitting ? "True" : "False");
    return text;
}

int PanelLoggerPort(const std::string &root) {
    std::ifstream options(root + "/opt/set/options.txt");
    std::string line;
    int port = 12060;
    while (std::getline(options, line))
        if (line.rfind("LoggerUdpPort: ", 0) == 0) {
            int p = std::atoi(line.c_str() + 15);
            if (p > 0 && p <= 65535) port = p;
        }
    return port;
}

int PanelSendUdp(int port, const std::string &datagram, std::string *why) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ssize_t n = fd < 0 ? -1
                       : sendto(fd, datagram.data(), datagram.size(), 0,
                                reinterpret_cast<sockaddr *>(&to), sizeof to);
    if (n != static_cast<ssize_t>(datagram.size())) *why = std::strerror(errno);
    if (fd >= 0) close(fd);
    return n == static_cast<ssize_t>(datagram.size()) ? 0 : -1;
}

int SimWriteStateLine(const std::string &path, const std::string &showAnswer) {
    std::string text = showAnswer.rfind("ok ", 0) == 0 ? showAnswer.substr(3) : showAnswer;
    std::string tmp = path + ".new";
    FILE *f = std::fopen(tmp.c_str(), "we");
    if (f == nullptr) return -1;
    bool ok = std::fprintf(f, "%s\n", text.c_str()) > 0;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) return -1;
    return 0;
}

std::string PanelJsonString(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
