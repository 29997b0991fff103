// Network settings: reading and rewriting /etc/network/interfaces.
#include "unit.h"

#include "platform/files.h"
#include "config/network.h"

#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class Network : public ::testing::Test {
  protected:
    ScopedSimRoot root;
    std::string Path() const { return root.Path("/etc/network/interfaces"); }
    void SetUp() override {
        for (uint8_t *b : {IP_v, NetMask_v, Gateway_v, DNS_v})
            std::memset(b, 0, 4);
    }
    void Write(const std::string &text) { WriteWholeFile(Path(), text); }
    std::string Read() const { return ReadWholeFile(Path()); }
    static std::vector<uint8_t> V(const uint8_t b[4]) { return {b[0], b[1], b[2], b[3]}; }
    static std::vector<uint8_t> V(int a, int b, int c, int d) {
        return {uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d)};
    }
};

TEST(NetworkAddr, SplitAndJoin) {
    uint8_t b[4] = {9, 9, 9, 9};
    EXPECT_EQ(SplitAddr("10.0.0.7", b), 0);
    char text[32];
    SplitAddrInv(text, b);
    EXPECT_STREQ(text, "10.0.0.7");
    // Refused, the bytes untouched: anything after the address, five groups, a group above 255, too
    // few, empty groups.
    for (const char *bad : {"10.0.0.7/24", "1.2.3.4 x", "1.2.3.4.5", "10.0.300.1", "1.2.3",
                            "1..2.3", "", "1.2.3.4444", "99999999999.1.1.1"}) {
        EXPECT_EQ(SplitAddr(bad, b), -1) << bad;
        EXPECT_EQ(std::vector<uint8_t>(b, b + 4), std::vector<uint8_t>({10, 0, 0, 7})) << bad;
    }
}

TEST_F(Network, ReadsTheSampleFiles) {
    // An address and no gateway line.
    Write("auto eth0\niface eth0 inet static\naddress 192.168.1.50\nnetmask 255.255.255.0\n");
    testing::internal::CaptureStderr();
    ASSERT_EQ(ReadLanParam(), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(V(IP_v), V(192, 168, 1, 50));
    EXPECT_STREQ(IP, "192.168.1.50");
    EXPECT_EQ(V(NetMask_v), V(255, 255, 255, 0));
    EXPECT_EQ(Gateway_none, 1);
    EXPECT_EQ(DNS_none, 1);
    EXPECT_EQ(err, "ip: 192.168.1.50\nNetMask: 255.255.255.0\n"
                   "ReadLanParam DNS_none=1 Gateway_none=1\n");
    // Saving adds no gateway line where there is none.
    IP_v[3] = 51;
    ASSERT_EQ(SaveLanParam(), 0);
    EXPECT_EQ(Read(),
              "auto eth0\niface eth0 inet static\naddress 192.168.1.51\nnetmask 255.255.255.0\n");

    // An indented netmask (as Debian allows) is read and rewritten in place;
    // a last line without a line feed keeps its last character.
    Write("iface eth0 inet static\n    netmask 255.255.0.0\naddress 10.1.2.3\n"
          "nameserver 10.1.2.254\ngateway 10.1.2.1");
    testing::internal::CaptureStderr();
    ASSERT_EQ(ReadLanParam(), 0);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(V(NetMask_v), V(255, 255, 0, 0));
    EXPECT_EQ(V(Gateway_v), V(10, 1, 2, 1));
    EXPECT_STREQ(Gateway, "10.1.2.1");
    EXPECT_EQ(V(DNS_v), V(10, 1, 2, 254));
    EXPECT_EQ(Gateway_none, 0);
    EXPECT_EQ(DNS_none, 0);
    EXPECT_NE(err.find("gateway: 10.1.2.1\nDNS: 10.1.2.254\n"), std::string::npos) << err;
    NetMask_v[2] = 255;
    Gateway_none = 1; // the operator cleared the gateway
    ASSERT_EQ(SaveLanParam(), 0);
    EXPECT_EQ(Read(), "iface eth0 inet static\n    netmask 255.255.255.0\naddress 10.1.2.3\n"
                      "nameserver 10.1.2.254\ngateway \n");
    // "gateway " reads back as no gateway.
    ASSERT_EQ(ReadLanParam(), 0);
    EXPECT_EQ(Gateway_none, 1);

    // The commands: remount of the root, read-only again, then the restart.
    auto cmds = SimCommands(root.root);
    ASSERT_GE(cmds.size(), 4u);
    EXPECT_EQ(cmds[cmds.size() - 4], "mount -o remount defaults,rw " + root.root + "/");
    EXPECT_EQ(cmds[cmds.size() - 3], "mount -v -n -o remount -r " + root.root + "/");
    EXPECT_EQ(cmds[cmds.size() - 2], "sudo ifdown --exclude=lo -a");
    EXPECT_EQ(cmds[cmds.size() - 1], "sudo ifup --exclude=lo -a");
}

TEST_F(Network, BadAddressesAreRefusedAndTheStoredOnesKept) {
    Write("address 192.168.1.50\nnetmask 255.255.255.0\ngateway 192.168.1.1\n");
    ASSERT_EQ(ReadLanParam(), 0);
    Write("address 192.168.1.50.7\nnetmask 255.255.300.0\ngateway 192.168.1.9.1\n");
    testing::internal::CaptureStderr();
    ASSERT_EQ(ReadLanParam(), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(V(IP_v), V(192, 168, 1, 50));
    EXPECT_EQ(V(NetMask_v), V(255, 255, 255, 0));
    EXPECT_NE(err.find("ReadLanParam: address \"192.168.1.50.7\" refused\n"), std::string::npos)
        << err;
    EXPECT_NE(err.find("ReadLanParam: netmask \"255.255.300.0\" refused\n"), std::string::npos);
    EXPECT_EQ(Gateway_none, 1); // no acceptable gateway line
    // A later good line still counts; a bad one after a good one leaves the good one.
    Write("address 10.0.0.1\naddress 10.0.0.2\naddress 10.0.0.2.3\n");
    testing::internal::CaptureStderr();
    ASSERT_EQ(ReadLanParam(), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(V(IP_v), V(10, 0, 0, 2));
    EXPECT_STREQ(IP, "10.0.0.2");
    // An address too long for its text (leading zeros) is refused whole.
    Write("address 10.0.0.3\nnameserver 0.2.0" + std::string(40, '0') + "6.1\n");
    testing::internal::CaptureStderr();
    ASSERT_EQ(ReadLanParam(), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(DNS_none, 1);
    EXPECT_STREQ(DNS, "");
    EXPECT_STREQ(IP, "10.0.0.3");
    // A missing file.
    unlink(Path().c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadLanParam(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error opening network connection configuration file. CODE: 2\n");
    EXPECT_EQ(SaveLanParam(), -1);
}

// Comments, other interfaces, long lines and a long file come back byte for byte.
TEST_F(Network, EveryOtherLineKeptByteForByte) {
    std::string longComment = "# " + std::string(300, 'x') + " address 1.2.3.4\n";
    std::string before, after;
    auto both = [&](const std::string &line) {
        before += line;
        after += line;
    };
    both("# /etc/network/interfaces\n\nauto lo\niface lo inet loopback\n\n");
    both(longComment);
    both("allow-hotplug wlan0\niface wlan0 inet dhcp\n\twpa-conf /etc/wpa.conf\n");
    both("  address 172.16.0.9\n"); // indented: another stanza's line, left alone
    for (int i = 0; i < 200; i++)
        both("# filler line " + std::to_string(i) + " \t with\ttabs and trailing blanks   \n");
    both("iface eth0 inet static\r\n");
    before += "address 192.168.1.60\nnetmask 255.255.255.0\ngateway 192.168.1.1\n";
    after += "address 192.168.2.61\nnetmask 255.255.0.0\ngateway 192.168.2.1\n";
    both("dns-nameservers 8.8.8.8\n");
    before += "nameserver 192.168.1.1\n";
    after += "nameserver 9.9.9.9\n";
    both(std::string(5000, 'z') + "\nlast line without a line feed");
    Write(before);
    testing::internal::CaptureStderr();
    ASSERT_EQ(ReadLanParam(), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(V(IP_v), V(192, 168, 1, 60));
    uint8_t ip[4] = {192, 168, 2, 61}, mask[4] = {255, 255, 0, 0}, gw[4] = {192, 168, 2, 1},
            dns[4] = {9, 9, 9, 9};
    std::memcpy(IP_v, ip, 4);
    std::memcpy(NetMask_v, mask, 4);
    std::memcpy(Gateway_v, gw, 4);
    std::memcpy(DNS_v, dns, 4);
    testing::internal::CaptureStderr();
    ASSERT_EQ(SaveLanParam(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "--->new ip: address 192.168.2.61\n \n");
    EXPECT_EQ(Read(), after);
}

// Only what the operator changed is rewritten: an address with a prefix
// length reads whole and keeps it; an unreadable one is refused, not cut.
TEST_F(Network, UnchangedLinesStayAndAPrefixLengthIsKept) {
    Write("address 10.1.2.3/24\nnetmask 255.255.255.0 \ngateway 10.1.2.1\nnameserver 1.1.1.1/8\n");
    testing::internal::CaptureStderr();
    ASSERT_EQ(ReadLanParam(), 0);
    EXPECT_EQ(V(IP_v), V(10, 1, 2, 3));
    EXPECT_EQ(DNS_none, 1) << "a prefix on a name server does not read whole";
    Gateway_v[3] = 254;
    ASSERT_EQ(SaveLanParam(), 0);
    EXPECT_EQ(Read(), "address 10.1.2.3/24\nnetmask 255.255.255.0 \ngateway 10.1.2.254\n"
                      "nameserver 1.1.1.1/8\n");
    IP_v[3] = 9;
    ASSERT_EQ(SaveLanParam(), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(Read().substr(0, 20), "address 10.1.2.9/24\n");
}

// The interfaces are restarted only once the new file is in place.
TEST_F(Network, NoRestartWithoutAWholeFile) {
    std::string text = "address 192.168.1.50\nnetmask 255.255.255.0\n";
    Write(text);
    ASSERT_EQ(ReadLanParam(), 0);
    IP_v[3] = 99;
    gSafeWriteStopBeforeRename = true;
    EXPECT_EQ(SaveLanParam(), -1);
    gSafeWriteStopBeforeRename = false;
    EXPECT_EQ(Read(), text);
    for (const std::string &c : SimCommands(root.root))
        EXPECT_EQ(c.find("ifdown"), std::string::npos) << c;
    // The root cannot be made writable: nothing written, nothing restarted.
    SimCommandFails(root.root, "mount", true);
    testing::internal::CaptureStderr();
    EXPECT_EQ(SaveLanParam(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("can't mount rw / ", 0), 0u);
    EXPECT_EQ(Read(), text);
    SimCommandFails(root.root, "mount", false);
    // A failing restart is reported with its status; the file is already new.
    SimCommandFails(root.root, "sudo", true);
    EXPECT_NE(SaveLanParam(), 0);
    EXPECT_EQ(Read(), "address 192.168.1.99\nnetmask 255.255.255.0\n");
}

// Debian's layout: indented options, two interfaces, dns-nameservers. Only
// eth0's stanza is read and written; a missing line is added to it; a
// stanza that is not static refuses the save.
TEST_F(Network, OnlyTheUnitsStanzaIsEdited) {
    const std::string eth1 = "\nauto eth1\niface eth1 inet static\n    address 10.9.9.9\n";
    Write("auto lo\niface lo inet loopback\n\nauto eth0\niface eth0 inet static\n"
          "    address 192.168.1.60/24\n    dns-nameservers 1.1.1.1 8.8.8.8\n" + eth1);
    testing::internal::CaptureStderr();
    ASSERT_EQ(ReadLanParam(), 0);
    EXPECT_EQ(V(IP_v), V(192, 168, 1, 60));
    EXPECT_EQ(V(DNS_v), V(1, 1, 1, 1));
    IP_v[3] = 61;
    DNS_v[0] = 9;
    Gateway_none = 0;
    std::memcpy(Gateway_v, IP_v, 3);
    ASSERT_EQ(SaveLanParam(), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(Read(), "auto lo\niface lo inet loopback\n\nauto eth0\niface eth0 inet static\n"
                      "    address 192.168.1.61/24\n    dns-nameservers 9.1.1.1 8.8.8.8\n"
                      "    gateway 192.168.1.0\n" + eth1);

    Write("iface eth0 inet dhcp\n");
    testing::internal::CaptureStderr();
    ASSERT_EQ(ReadLanParam(), 0);
    IP_v[3] = 5;
    EXPECT_EQ(SaveLanParam(), -1) << "a change that cannot be written is no success";
    EXPECT_NE(testing::internal::GetCapturedStderr().find("eth0 is not a static stanza"),
              std::string::npos);
    EXPECT_EQ(Read(), "iface eth0 inet dhcp\n");
    EXPECT_EQ(SimCommands(root.root).back(), "mount -v -n -o remount -r " + root.root + "/");
}

} // namespace
