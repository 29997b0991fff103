// The pieces of helix-sim-panel that do not speak HTTP: the screen as PNG,
// control lines to the simulators, the panel micro's settings, log tails and
// the error list read back from the controller's trace.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr int kPanelScreenW = 800, kPanelScreenH = 480;

// Reads the virtual screen file (800x480, B, G, R, X per pixel). False when
// it is missing or shorter than a whole screen.
bool PanelReadScreen(const std::string &fbPath, std::vector<uint8_t> *bgrx);
// Encodes B, G, R, X pixels as an 8-bit RGB PNG (fast compression). 0 on success.
int PanelEncodePng(const uint8_t *bgrx, int width, int height, std::string *out);

// Writes one control line to a simulator's FIFO without waiting. 0 when it
// went out; -1 with the reason in `why` (no such FIFO, nobody reading it,
// a line with a line break or over 200 characters).
int PanelSendLine(const std::string &fifo, const std::string &line, std::string *why);

// Sets "KEY VALUE" in <root>/panel-micro.txt (keys version, v12, v15, vamp),
// keeping the other lines. 0 on success.
int PanelSetMicro(const std::string &root, const std::string &key, int value);

// The last `maxLines` lines of a text file (reads at most its last 64 KiB).
std::vector<std::string> PanelTail(const std::string &path, size_t maxLines);

// The error list as the controller's trace tells it: "Add: N: n err:C" adds
// C, "Del ERROR: N: n err:C" and "Del temp err: C (...)" remove it. A trace
// that starts again (shorter than what was read) starts the list again.
// The run-time texts of codes 4 and 15 come from the trace too: "Err XY"
// after "STOP RETRAY!! XY", the trip's name after "AMPL TRIP: NAME".
struct PanelErrorList {
    std::vector<int> codes; // oldest first
    long offset = 0;        // bytes of the trace read so far
    std::string partial;    // an unfinished last line
    std::string commText;   // code 4's text ("" until the trace gives one)
    std::string tripText;   // code 15's text
};
void PanelErrorsFeed(PanelErrorList *list, const std::string &text);
void PanelErrorsUpdate(PanelErrorList *list, const std::string &tracePath);

// A log's tail with repeated lines folded: a line equal to one of the last
// few kept is counted there instead of kept again, so "EIK, ST" sent 3,202
// times reads as one line "EIK, ST ×3,202". Read incrementally; a file that
// starts again (shorter than what was read) starts the tail again.
struct PanelFold {
    struct Entry {
        std::string line;
        long count;
    };
    std::vector<Entry> entries; // oldest first, at most `keep`
    size_t keep = 40;
    long offset = 0;
    std::string partial;
};
void PanelFoldFeed(PanelFold *fold, const std::string &text);
void PanelFoldUpdate(PanelFold *fold, const std::string &path);
// The kept lines, a count of more than one written after " ×" with
// thousands separated by commas.
std::vector<std::string> PanelFoldLines(const PanelFold &fold);

// The working mode of the unit at `root` as its current bank's antenna file
// marks it ("gen", "tav", "ft817", "net", "udp"; "" when unknown). The bank is the
// setup file's "NumBanco" (1 when missing).
std::string PanelWorkingMode(const std::string &root);

// A station logging program's frequency datagram for radio `nr` (1 or 2), as
// N1MM Logger+ sends it: frequencies in tens of hertz.
std::string PanelRadioInfo(int nr, int32_t hz, int active, bool transmitting);
// The unit's logger port: LoggerUdpPort of <root>/opt/set/options.txt, else 12060.
int PanelLoggerPort(const std::string &root);
// Sends `datagram` to 127.0.0.1:`port` over UDP; 0 on success, else -1 and why.
int PanelSendUdp(int port, const std::string &datagram, std::string *why);

// Whether the unit at `root` serves the remote link beyond loopback with the
// factory access phrase, as its setup and options files say.
bool PanelDefaultPhrase(const std::string &root);

// The simulators' state line for the page (their "show" answer without
// "ok "), replaced whole (written beside and renamed). 0 on success.
int SimWriteStateLine(const std::string &path, const std::string &showAnswer);

// A JSON string literal for `s` (quotes included).
std::string PanelJsonString(const std::string &s);
