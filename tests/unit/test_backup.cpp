// Backup and restore of the settings: the saved set comes back whole, the set
// it replaces is kept, and an archive with any bad part changes nothing.
#include "unit.h"

#include "config/backup.h"
#include "platform/shell.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <glob.h>
#include <map>
#include <string>
#include <unistd.h>

namespace {

const char *const kFiles[] = {"/opt/set/setup.txt",       "/opt/set/antenna_b1.txt",
                              "/opt/set/atu_ant1_b1.txt", "/opt/set/atu_ant2_b1.txt",
                              "/opt/set/atu_ant3_b1.txt", "/opt/set/faults.txt",
                              "/etc/network/interfaces"};

struct Backup : ::testing::Test {
    ScopedSimRoot root;
    std::string archive = root.Path("/backup.tar");
    std::string out, err;
    void SetUp() override {
        WriteWholeFile(root.Path("/opt/set/setup.txt"), "EnableKeyb: 1\nNumBanco: 1\n");
        WriteWholeFile(root.Path("/opt/set/faults.txt"), "2026-12-07 fault 4\ntorn");
        ASSERT_EQ(BackupSettings(archive, &out, &err), kBackupDone) << err;
    }
    std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> m;
        for (const char *f : kFiles)
            if (access(root.Path(f).c_str(), F_OK) == 0) m[f] = ReadWholeFile(root.Path(f));
        return m;
    }
    std::vector<std::string> Kept() {
        glob_t g{};
        std::vector<std::string> v;
        if (glob(root.Path("/opt/set/before-restore-*.tar").c_str(), 0, nullptr, &g) == 0)
            v.assign(g.gl_pathv, g.gl_pathv + g.gl_pathc);
        globfree(&g);
        return v;
    }
};

TEST_F(Backup, RestorePutsTheSavedSetBackAndKeepsTheOneItReplaces) {
    auto saved = Files();
    EXPECT_EQ(saved.count("/opt/set/atu_ant3_b1.txt"), 0u);
    saved["/opt/set/faults.txt"] = "2026-12-07 fault 4\n"; // only whole lines are saved
    WriteWholeFile(root.Path("/opt/set/atu_ant1_b1.txt"), "3117 14070000 1 2 40 50\n");
    WriteWholeFile(root.Path("/opt/set/atu_ant3_b1.txt"), "3117 14070000 1 1 7 8\n");
    WriteWholeFile(root.Path("/etc/network/interfaces"), "address 10.0.0.9\n");
    unlink(root.Path("/opt/set/setup.txt").c_str());
    auto changed = Files();
    changed["/opt/set/faults.txt"] = saved["/opt/set/faults.txt"];
    size_t commands = SimCommands(root.root).size();

    ASSERT_EQ(RestoreSettings(archive, &out, &err), kBackupDone) << err;
    EXPECT_EQ(Files(), saved);
    // One remount window around the whole of /opt/set, closed again.
    std::vector<std::string> all = SimCommands(root.root);
    std::vector<std::string> after(all.begin() + static_cast<long>(commands), all.end());
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after[0], "mount -o remount defaults,rw " + root.root + "/opt/set");
    EXPECT_EQ(after[1], "mount -v -n -o remount -r " + root.root + "/opt/set");
    EXPECT_EQ(RemountWindowUsers(), 0);

    // The replaced set is kept as an archive that restores it.
    ASSERT_EQ(Kept().size(), 1u);
    ASSERT_EQ(RestoreSettings(Kept()[0], &out, &err), kBackupDone) << err;
    EXPECT_EQ(Files(), changed);
}

TEST_F(Backup, AnArchiveWithABadPartIsRefusedWholeAndNothingChanges) {
    std::string good = ReadWholeFile(archive);
    WriteWholeFile(root.Path("/opt/set/atu_ant1_b1.txt"), "3117 14070000 1 2 40 50\n");
    auto before = Files();
    std::vector<ArchiveMember> members;
    std::string why;
    ASSERT_EQ(ReadArchive(good, &members, &why), 0) << why;
    auto with = [&](const char *name, const char *data) {
        auto m = members;
        m.push_back({name, data});
        return MakeArchive(m, 0);
    };
    std::string flipped = good;
    flipped[good.find("NumBanco")] = 'X'; // a byte of a file, not of a header
    const std::string bad[] = {
        flipped,
        good.substr(0, 3000),
        with("opt/set/atu_ant3_b1.txt", "3117 1 1 1 1 1\n6000 1 1 1 1 1\n"),
        with("opt/set/ventola.txt", "30 20\n40 fast\n"),
        with("opt/set/options.txt", "RigctldPort: 99999\n"),
        with("opt/set/other.txt", "x\n"),
        MakeArchive({{"opt/set/setup.txt", "no key here\n"}}, 0),
        MakeArchive({}, 0),
    };
    for (const std::string &a : bad) {
        WriteWholeFile(archive, a);
        err.clear();
        EXPECT_EQ(RestoreSettings(archive, &out, &err), kBackupRefused);
        EXPECT_NE(err.find("nothing changed"), std::string::npos) << err;
    }
    EXPECT_EQ(Files(), before);
    EXPECT_TRUE(Kept().empty());

    // An archive over the size limit (or a device that never ends) is
    // refused before it is read.
    std::string sparse = root.Path("/big.tar");
    WriteWholeFile(sparse, "");
    ASSERT_EQ(truncate(sparse.c_str(), 300 << 20), 0);
    for (const std::string &big : {sparse, std::string("/dev/zero")}) {
        err.clear();
        EXPECT_EQ(RestoreSettings(big, &out, &err), kBackupRefused);
        EXPECT_NE(err.find("larger than 32 MiB; nothing changed"), std::string::npos) << err;
    }
    EXPECT_EQ(Files(), before);
}

// A link planted at the temporary name is never followed: its target stays.
TEST_F(Backup, ASymlinkAtTheTemporaryNameIsNotFollowed) {
    std::string victim = root.Path("/victim.txt");
    WriteWholeFile(victim, "keep me\n");
    ASSERT_EQ(symlink(victim.c_str(), (archive + ".tmp").c_str()), 0);
    ASSERT_EQ(BackupSettings(archive, &out, &err), kBackupDone) << err;
    EXPECT_EQ(ReadWholeFile(victim), "keep me\n");
    std::vector<ArchiveMember> members;
    std::string why;
    EXPECT_EQ(ReadArchive(ReadWholeFile(archive), &members, &why), 0) << why;
}

// Each reader's own rules decide what a restore takes.
TEST(BackupCheck, EachFileIsCheckedWithItsReader) {
    const struct {
        const char *name, *text;
        bool ok;
    } cases[] = {
        {"opt/set/setup.txt", "Pitch: 2500\nfree text is a comment\n", true},
        {"opt/set/setup.txt", "EnableKeyb: \n", false},
        {"opt/set/setup.txt", "TcpPort: port\n", false},
        {"opt/set/config.txt", ";c\n\n1800000 2000000 100 1000\n", true},
        {"opt/set/config.txt", "1800000 2000000 abc\n", false},
        {"opt/set/filter.txt", "0 54000000 1\n", true},
        {"opt/set/filter.txt", "0 x 1\n", false},
        {"opt/set/filter.txt", "-1 54000000 1\n", false},
        {"opt/set/ventola.txt", "nan 50\n", false},
        {"opt/set/ventola.txt", "40 inf\n", false},
        {"opt/set/antenna_b2.txt", "40m 7000000 7300000 1 2 0 1 nan\n", false},
        {"opt/set/antenna_b2.txt", "40m 7000000 7300000 1 2 0 300 5\n", false},
        {"opt/set/antenna_b2.txt", "!817\n40m 7000000 7300000 1 2 0 1 500.0\n", true},
        {"opt/set/antenna.txt", "40m 0 7300000 1 2 0 1 500.0\n", false},
        {"opt/set/faults.txt.1", "a\nb", false},
        {"etc/network/interfaces", "auto eth0\naddress 192.168.1.50/24\ngateway \n", true},
        {"etc/network/interfaces", "netmask 255.255.0\n", false},
    };
    for (const auto &c : cases) {
        std::string why;
        EXPECT_EQ(CheckSettingsFile(c.name, c.text, &why) == 0, c.ok) << c.name << ": " << c.text;
    }
    std::string why;
    EXPECT_NE(CheckSettingsFile("opt/set/setup.txt", std::string("EnableKeyb: 1\n\0", 15), &why),
              0);
}

} // namespace
