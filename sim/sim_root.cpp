#include "sim_root.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/time.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void MkdirP(const std::string &path) {
    std::string cur;
    std::stringstream ss(path);
    std::string part;
    if (!path.empty() && path[0] == '/') cur = "/";
    while (std::getline(ss, part, '/')) {
        if (part.empty()) continue;
        cur += part + "/";
        mkdir(cur.c_str(), 0755);
    }
}

// A new file: a link left at `path` is replaced, never written through.
void WriteText(const std::string &path, const std::string &text, mode_t mode = 0644) {
    unlink(path.c_str());
    std::ofstream f(path, std::ios::trunc);
    f << text;
    f.close();
    chmod(path.c_str(), mode);
}

void Link(const std::string &target, const std::string &link) {
    unlink(link.c_str());
    if (symlink(target.c_str(), link.c_str()) != 0) std::perror(link.c_str());
}

// A stand-in that records its command line and succeeds unless told to fail.
std::string StandIn(const std::string &name, const std::string &extra = "") {
    return "#!/bin/sh\n"
           "root=\"${HELIX_ROOT:-$(cd \"$(dirname \"$0\")/..\" && pwd)}\"\n"
           "echo \"" +
           name +
           " $*\" >> \"$root/commands.log\"\n"
           "[ -e \"$root/fail/" +
           name + "\" ] && exit 1\n" + extra + "exit 0\n";
}

// Single-quoted for the shell.
std::string ShellQuote(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The directory of the running program (the build tree for the simulator and
// the tests), where helix-fbgrab is built too.
std::string OwnDir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    std::string exe(buf, static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

} // namespace

void MakeSimGpioBlock(const std::string &root) {
    // A running unit maps this file: leave an existing one alone.
    std::string path = root + "/dev/mem";
    if (access(path.c_str(), F_OK) == 0) return;
    std::string block(kSimGpioBlockSize, '\0');
    for (int i = 0; i < 4; i++)
        block[kSimGPLEV0 + i] = static_cast<char>((kSimKeysReleased >> (8 * i)) & 0xFF);
    WriteText(path, block, 0600);
}

std::string MakeSimRoot(const std::string &dirIn) {
    std::string dir = dirIn;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    for (const char *d : {"/opt/set", "/etc/network", "/dev", "/opt/fonts", "/opt/Helix", "/tmp",
                          "/var/log", "/bin", "/fail", "/usr/share/fonts/truetype"})
        MkdirP(dir + d);

    std::string ifaces = dir + "/etc/network/interfaces";
    if (access(ifaces.c_str(), F_OK) != 0)
        WriteText(ifaces, "auto lo\n"
                          "iface lo inet loopback\n\n"
                          "auto eth0\n"
                          "iface eth0 inet static\n"
                          "address 192.168.1.60\n"
                          "netmask 255.255.255.0\n"
                          "gateway 192.168.1.1\n"
                          "dns-nameservers 192.168.1.1\n");
    WriteText(dir + "/opt/good", "");
    // The sound device names of the setup ("hw:N", "plughw:N", "default")
    // resolve, in this root, to ALSA's null plugin: capture gives silence,
    // playback is taken and dropped. Written only when missing, so a root can
    // map them elsewhere (a "file" plugin to keep what is played).
    std::string asound = dir + "/etc/asound.conf";
    if (access(asound.c_str(), F_OK) != 0) {
        const char *args = "@args [ CARD DEV SUBDEV ]\n"
                           "  @args.CARD { type string default \"0\" }\n"
                           "  @args.DEV { type integer default 0 }\n"
                           "  @args.SUBDEV { type integer default -1 }\n";
        WriteText(asound, std::string("pcm.hw {\n  ") + args + "  type null\n}\n" +
                              "pcm.plughw {\n  " + args + "  type null\n}\n" +
                              "pcm.default {\n  type null\n}\n");
    }
    MakeSimGpioBlock(dir);

    // Bank 1 of the simulated unit: the amplifier and tuner in line on 20 m
    // (antenna 1) and 40 m (antenna 2), with stored tuner solutions where the
    // simulated radios start (14.074 MHz; 7.074 MHz on the other VFO) and the
    // board measures (14.070 MHz), so the first run sends a stored tune.
    // Written only when missing: changes made while it runs are kept.
    auto writeIfMissing = [&](const char *unitPath, const std::string &text) {
        std::string path = dir + unitPath;
        if (access(path.c_str(), F_OK) != 0) WriteText(path, text);
    };
    writeIfMissing("/opt/set/antenna_b1.txt", "!Gen\n"
                                              "160m 1800000 2000000 0 1 1 0 0.0\n"
                                              "80m 3500000 4000000 0 1 1 0 0.0\n"
                                              "60m 5330500 5450000 0 1 1 0 0.0\n"
                                              "40m 7000000 7300000 1 2 0 0 0.0\n"
                                              "30m 10100000 10150000 0 1 1 0 0.0\n"
                                              "20m 14000000 14350000 1 1 0 0 0.0\n"
                                              "17m 18068000 18168000 0 1 1 0 0.0\n"
                                              "15m 21000000 21450000 0 1 1 0 0.0\n"
                                              "12m 24890000 24990000 0 1 1 0 0.0\n"
                                              "10m 28000000 29700000 0 1 1 0 0.0\n"
                                              "6m 50000000 54000000 0 1 1 0 0.0\n");
    writeIfMissing("/opt/set/atu_ant1_b1.txt", "; index frequency valid mode L C\n"
                                               "3112 14020000 1 1 44 121\n"
                                               "3117 14070000 1 1 42 118\n"
                                               "3130 14200000 1 2 37 102\n");
    writeIfMissing("/opt/set/atu_ant2_b1.txt", "; index frequency valid mode L C\n"
                                               "2105 7025000 1 1 99 214\n"
                                               "2115 7075000 1 1 96 210\n");

    // Fonts the program loads by their unit paths.
    Link("/usr/share/fonts/truetype/dejavu", dir + "/usr/share/fonts/truetype/dejavu");
    Link("/usr/share/fonts/truetype/paratype/PTS55F.ttf", dir + "/opt/fonts/PTS55F_W.ttf");
    Link("/usr/share/fonts/truetype/paratype/PTS75F.ttf", dir + "/opt/fonts/PTS75F_W.ttf");

    for (const char *name : {"mount", "reboot", "sudo", "ifdown", "ifup", "stty", "tput"})
        WriteText(dir + "/bin/" + name, StandIn(name), 0755);
    WriteText(dir + "/bin/lsusb",
              StandIn("lsusb", "[ -f \"$root/lsusb.txt\" ] && cat \"$root/lsusb.txt\"\n"), 0755);
    // my_temp: the processor's temperature, then the graphics core's as vcgencmd prints it.
    WriteText(dir + "/bin/my_temp", StandIn("my_temp", "echo 45.6\necho \"temp=47.2'C\"\n"), 0755);
    // fbgrab: the virtual screen as a PNG, by helix-fbgrab from PATH, else the
    // one built beside the program that made this root, else the one in the
    // working directory (the program runs in its build directory).
    WriteText(
        dir + "/bin/fbgrab",
        StandIn("fbgrab", "tool=\"$(command -v helix-fbgrab)\"\n"
                          "[ -z \"$tool\" ] && tool=" +
                              ShellQuote(OwnDir() + "/helix-fbgrab") +
                              "\n"
                              "[ -x \"$tool\" ] || tool=./helix-fbgrab\n"
                              "[ -x \"$tool\" ] || exit 1\n"
                              "\"$tool\" \"$root/dev/fb0\" \"$root/tmp/screen.png\" || exit 1\n"),
        0755);
    // Harmless tools the unit's commands use on the root's own files: the
    // host's, called by the root's own scripts (the controller runs no
    // program from outside the root; a test may replace these files).
    for (const char *name : {"rm", "grep", "echo"})
        WriteText(dir + "/bin/" + name, std::string("#!/bin/sh\nexec /bin/") + name + " \"$@\"\n",
                  0755);
    WriteText(dir + "/opt/sshshell", StandIn("sshshell"), 0755);
    // Commands named by their full unit paths find the same stand-ins.
    MkdirP(dir + "/usr/bin");
    for (const char *name : {"fbgrab", "tput"})
        Link("../../bin/" + std::string(name), dir + "/usr/bin/" + name);
    WriteText(dir + "/opt/Helix/getpack.sh", StandIn("getpack.sh"), 0755);
    return dir;
}

std::string MakeTempSimRoot() {
    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp != nullptr && tmp[0] ? tmp : "/tmp") + "/helix-root-XXXXXX";
    char *made = mkdtemp(tmpl.data());
    if (made == nullptr) return std::string();
    return MakeSimRoot(made);
}

void UseSimRoot(const std::string &root) {
    setenv("HELIX_ROOT", root.c_str(), 1);
    const char *path = std::getenv("PATH");
    std::string p = root + "/bin";
    if (path != nullptr && std::string(path).rfind(p + ":", 0) != 0)
        p += std::string(":") + path;
    else if (path != nullptr)
        p = path;
    setenv("PATH", p.c_str(), 1);
}

std::vector<std::string> SimCommands(const std::string &root) {
    std::vector<std::string> lines;
    std::ifstream f(root + "/commands.log");
    std::string line;
    while (std::getline(f, line))
        lines.push_back(line);
    return lines;
}

void SimCommandFails(const std::string &root, const std::string &name, bool fail) {
    std::string path = root + "/fail/" + name;
    if (fail)
        WriteText(path, "");
    else
        unlink(path.c_str());
}

void RemoveSimRoot(const std::string &root) {
    if (root.find("/helix-root-") == std::string::npos) return; // only roots we made
    std::string cmd = "rm -rf '" + root + "'";
    if (std::system(cmd.c_str()) != 0) std::perror("rm");
}

std::string SimKeyboardPath(const std::string &root) {
    return root + "/dev/input/by-id/sim-event-kbd";
}

int SimKeyboardPlug(const std::string &root, bool plugged) {
    std::string path = SimKeyboardPath(root);
    if (!plugged) return unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : -1;
    MkdirP(root + "/dev/input/by-id");
    if (mkfifo(path.c_str(), 0600) == 0 || errno == EEXIST) return 0;
    return -1;
}

int SimKeyboardKey(const std::string &root, int code, int value) {
    // Without a reader the open fails at once (ENXIO) instead of waiting.
    int fd = open(SimKeyboardPath(root).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    input_event ev{};
    gettimeofday(&ev.time, nullptr);
    ev.type = 1;
    ev.code = static_cast<uint16_t>(code);
    ev.value = value;
    ssize_t n = write(fd, &ev, sizeof ev);
    close(fd);
    return n == static_cast<ssize_t>(sizeof ev) ? 0 : -1;
}
