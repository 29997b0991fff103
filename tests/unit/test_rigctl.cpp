// The rig daemon's client on a fake clock against a scripted daemon on the
// loopback: replies, each kind of failure, the back-off and the warning.
#include "unit.h"

#include "model/errors.h"
#include "transceiver/rigctl.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int Listen(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0), one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    listen(fd, 1);
    return fd;
}

// What the client sent, once it has sent it.
std::string Got(int fd) {
    pollfd p{fd, POLLIN, 0};
    char buf[64];
    ssize_t n = poll(&p, 1, 5000) == 1 ? read(fd, buf, sizeof buf) : 0;
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

TEST(RigctlClient, ParsesRepliesFollowsAndBacksOffOnEachFailure) {
    int64_t v = 0;
    EXPECT_TRUE(RigctlParseLine("7074000.000000", &v) == 0 && v == 7074000);
    EXPECT_TRUE(RigctlParseLine("RPRT -11", &v) == 1 && v == -11);
    for (const char *bad : {"", "abc", "12 34", "RPRT", "-"})
        EXPECT_EQ(RigctlParseLine(bad, &v), -1) << bad;
    using L = std::vector<std::string>;
    EXPECT_TRUE(RigctlParseReply(L{"get_ptt:", "PTT: 1", "RPRT 0"}, "get_ptt", "PTT", &v) == 0 &&
                v == 1);
    EXPECT_TRUE(RigctlParseReply(L{"get_freq:", "RPRT -11"}, "get_freq", "Frequency", &v) == 1);
    for (const L &bad : {L{"get_freq:", "Frequency: 7", "x", "RPRT 0"},
                         L{"get_ptt:", "PTT: 1", "RPRT 0"}, L{"get_freq:", "7074000", "RPRT 0"}})
        EXPECT_EQ(RigctlParseReply(bad, "get_freq", "Frequency", &v), -1);

    ScopedSimRoot root;
    TestUnit u;
    Works *w = u.w();
    InitErrTab(w);
    w->errSuspend = 0;
    const int port = w->options.rigctldPort = FreeTcpPort();
    RigctlLink l;
    uint64_t now = 1000;
    // Steps at the same moment until the client has to wait (a connection
    // under way is given real time).
    auto step = [&] {
        int ms = 0;
        for (int i = 0; i < 5000; i++) {
            ms = RigctlStep(w, &l, now);
            if (ms != 0 && l.state != RigctlState::Connecting) break;
            if (ms != 0) usleep(1000);
        }
        return ms;
    };

    // Refused (nobody listens): the warning, retries 1, 2, 4, 8, 10, 10 s apart.
    std::vector<int> waits;
    for (int i = 0; i < 6; i++) {
        waits.push_back(step());
        now += static_cast<uint64_t>(waits.back());
    }
    EXPECT_EQ(waits, (std::vector<int>{1000, 2000, 4000, 8000, 10000, 10000}));
    EXPECT_EQ(ExistError(w, kErrRigctld), 1);

    // The daemon comes: frequency and transmit state; the warning leaves.
    int ls = Listen(port);
    int d = -1;
    auto session = [&] { // a new connection, asked for the frequency
        if (d >= 0) close(d);
        now += 20000;
        step();
        d = accept(ls, nullptr, nullptr);
        EXPECT_EQ(Got(d), "+f\n");
    };
    auto say = [&](const std::string &t) {
        ASSERT_EQ(write(d, t.data(), t.size()), ssize_t(t.size()));
    };
    // A frequency out of range is ignored and answers nothing; a reply's
    // extra line is dropped, never read as the next reply.
    session();
    say("get_freq:\nFrequency: -7074000\nRPRT 0\n");
    EXPECT_TRUE(WaitUntil([&] { return step() && l.state == RigctlState::WaitPtt; }, 5000));
    EXPECT_EQ(Got(d), "+t\n");
    EXPECT_TRUE(w->rigFreq.load() == 0 && ExistError(w, kErrRigctld) == 1);
    say("get_ptt:\nPTT: 1\nRPRT 0\n21074000\n");
    EXPECT_TRUE(WaitUntil([&] { return step() && w->rigPtt.load() == 1; }, 5000));
    EXPECT_EQ(ExistError(w, kErrRigctld), 1) << "only a frequency counts as an answer";
    now += kRigctlPollMs;
    EXPECT_EQ(step(), 2);
    EXPECT_EQ(Got(d), "+f\n");
    say("get_freq:\nFrequency: 7074000.000000\nRPRT 0\n");
    EXPECT_TRUE(WaitUntil([&] { return step() && w->rigFreq.load() == 7074000; }, 5000));
    EXPECT_EQ(ExistError(w, kErrRigctld), 0);
    EXPECT_EQ(Got(d), "+t\n");
    say("get_ptt:\nPTT: 0\nRPRT 0\n");
    now += kRigctlPollMs;
    EXPECT_TRUE(WaitUntil([&] { return step() == 2; }, 5000)); // the next request is out

    // A reply without its end, silence for 1 s, the daemon gone: each closes,
    // raises the warning, and the back-off grows again from 1 s.
    EXPECT_EQ(Got(d), "+f\n");
    for (int i = 0; i < 8; i++)
        say("hello\n");
    EXPECT_TRUE(WaitUntil([&] { return step() == 1000; }, 5000));
    EXPECT_TRUE(w->rigPtt.load() == 0 && ExistError(w, kErrRigctld) == 1);
    session();
    now += kRigctlReplyMs;
    EXPECT_EQ(step(), 2000);
    session();
    close(d);
    EXPECT_TRUE(WaitUntil([&] { return step() == 4000; }, 5000));
    close(ls);
    RigctlClose(&l);
    std::string log = ReadWholeFile(root.Path("/var/log/helix.log"));
    EXPECT_EQ(log.find("connection refused"), log.rfind("connection refused")) << log;
    for (const char *line :
         {"answering again", "garbage reply", "no answer within 1 s", "daemon gone",
          "reply to get_freq ignored \"get_freq:|Frequency: -7074000|RPRT 0\""})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

} // namespace
