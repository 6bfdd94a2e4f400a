#include "commands/NetcFamily.h"

#include "platform/Files.h"
#include "platform/NetDrive.h"
#include "support/LibraryTest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class NetcTest : public LibraryTest {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/netc_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
    fs::create_directory(dir + "/share");
    fs::create_directory(dir + "/mnt");
    platform::WriteWholeFile(dir + "/share/file.txt", "shared");
  }
  void TearDown() override {
    platform::CancelConnection(dir + "/mnt");
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::int32_t Netc(std::initializer_list<std::string> texts) { return Command("NETC", texts); }
  // Mounting needs privileges a test run may not have.
  bool MountingPermitted() {
    Netc({"LOCALNAME", dir + "/mnt"});
    Netc({"REMOTENAME", dir + "/share"});
    Netc({"PROVIDER", ""});
    const std::int32_t code = Netc({"CONNECT"});
    if (code == 211)
      return false;
    EXPECT_EQ(code, 0);
    return true;
  }

  std::string dir;
};

} // namespace

TEST(NetcTranslation, WindowsNetworkingErrorsMapOntoTheirCodes) {
  const std::pair<int, int> table[] = {
      {5, 41},    {85, 42},   {66, 43},   {1200, 44}, {67, 45},   {53, 46},   {1206, 47},
      {1204, 48}, {170, 49},  {1223, 50}, {1205, 51}, {1202, 52}, {2404, 53}, {1208, 54},
      {86, 55},   {1203, 56}, {1222, 57}, {2250, 58}, {2401, 59}, {1326, 60}};
  for (const auto &[net, internal] : table)
    EXPECT_EQ(NetcFamily::Translate(net), internal) << net;
  EXPECT_EQ(NetcFamily::Translate(platform::NetOtherError), 61);
  EXPECT_EQ(NetcFamily::Translate(1), 61);
}

TEST(NetcTranslation, MountFailuresMapOntoWindowsNumbers) {
  using platform::MountErrorToNet;
  EXPECT_EQ(MountErrorToNet(EPERM, "bind"), 5);
  EXPECT_EQ(MountErrorToNet(EACCES, "bind"), 5);
  EXPECT_EQ(MountErrorToNet(EACCES, "cifs"), 86); // wrong password
  EXPECT_EQ(MountErrorToNet(EBUSY, "bind"), 85);
  EXPECT_EQ(MountErrorToNet(ENOTDIR, "bind"), 66);
  EXPECT_EQ(MountErrorToNet(ENOENT, "cifs"), 67);
  EXPECT_EQ(MountErrorToNet(ENODEV, "nfs"), 1204);
  EXPECT_EQ(MountErrorToNet(ECONNREFUSED, "nfs"), 53);
  EXPECT_EQ(MountErrorToNet(ETIMEDOUT, "cifs"), 53);
  EXPECT_EQ(MountErrorToNet(ENETUNREACH, "cifs"), 1222);
  EXPECT_EQ(MountErrorToNet(EAGAIN, "cifs"), 170);
  EXPECT_EQ(MountErrorToNet(ENOMEM, "bind"), platform::NetOtherError);
  using platform::UnmountErrorToNet;
  EXPECT_EQ(UnmountErrorToNet(EINVAL), 2250);
  EXPECT_EQ(UnmountErrorToNet(ENOENT), 2250);
  EXPECT_EQ(UnmountErrorToNet(EPERM), 5);
  EXPECT_EQ(UnmountErrorToNet(EBUSY), 2401);
  EXPECT_EQ(UnmountErrorToNet(ENOMEM), platform::NetOtherError);
}

TEST(NetcTranslation, AnEmptyProviderIsChosenFromTheRemoteName) {
  EXPECT_EQ(platform::ProviderFor("//server/share"), "cifs");
  EXPECT_EQ(platform::ProviderFor("\\\\server\\share"), "cifs");
  EXPECT_EQ(platform::ProviderFor("server:/export"), "nfs");
  EXPECT_EQ(platform::ProviderFor("/srv/data"), "bind");
  EXPECT_EQ(platform::ProviderFor("relative/dir"), "bind");
}

TEST_F(NetcTest, NamesAreRequiredBeforeThePlatformIsCalled) {
  EXPECT_EQ(Netc({"CONNECT"}), 232);
  EXPECT_EQ(Netc({"DISCONNECT"}), 232);
  EXPECT_EQ(Netc({"REMOTENAME", dir + "/share"}), 0);
  EXPECT_EQ(Netc({"CONNECT"}), 232);
  EXPECT_EQ(Netc({"LOCALNAME", " \t"}), 0);
  EXPECT_EQ(Netc({"CONNECT"}), 232);
  EXPECT_EQ(Netc({"NOSUCH"}), 14);
  EXPECT_EQ(Netc({"RECONNECT", "0"}), 0);
  EXPECT_EQ(Netc({"USERNAME", "Joe"}), 0);
  EXPECT_EQ(Netc({"PASSWORD", "Secret"}), 0);
}

TEST_F(NetcTest, BindMountsConnectAndDisconnectForReal) {
  if (!MountingPermitted())
    GTEST_SKIP() << "mounting is not permitted here (needs root or CAP_SYS_ADMIN)";
  EXPECT_EQ(platform::ReadWholeFile(dir + "/mnt/file.txt"), "shared");
  // The same settings again: the local name is taken.
  EXPECT_EQ(Netc({"CONNECT"}), 212);
  EXPECT_EQ(Netc({"DISCONNECT"}), 0);
  EXPECT_FALSE(fs::exists(dir + "/mnt/file.txt"));
  EXPECT_EQ(Netc({"DISCONNECT"}), 228);
  // Parameters persist: connect, disconnect and connect again.
  EXPECT_EQ(Netc({"CONNECT"}), 0);
  EXPECT_EQ(Netc({"DISCONNECT"}), 0);
}

TEST_F(NetcTest, FailuresOfTheMountFacilityGiveTheirCodes) {
  if (!MountingPermitted())
    GTEST_SKIP() << "mounting is not permitted here (needs root or CAP_SYS_ADMIN)";
  Netc({"DISCONNECT"});
  Netc({"REMOTENAME", dir + "/missing"});
  EXPECT_EQ(Netc({"CONNECT"}), 215); // network name not found
  Netc({"REMOTENAME", dir + "/share"});
  Netc({"LOCALNAME", dir + "/no-such-dir"});
  EXPECT_EQ(Netc({"CONNECT"}), 214); // invalid device name
  Netc({"LOCALNAME", dir + "/mnt"});
  Netc({"REMOTENAME", dir + "/share/file.txt"});
  EXPECT_EQ(Netc({"CONNECT"}), 213); // a file onto a folder: wrong device type
  Netc({"REMOTENAME", dir + "/share"});
  Netc({"PROVIDER", "carrier-pigeon"});
  EXPECT_EQ(Netc({"CONNECT"}), 218); // invalid provider
  Netc({"PROVIDER", ""});
  Netc({"REMOTENAME", "//no-such-host.invalid/share"});
  EXPECT_EQ(Netc({"CONNECT"}), 216); // network path not found
  Netc({"REMOTENAME", "no-such-host.invalid:/export"});
  EXPECT_EQ(Netc({"CONNECT"}), 216);
  Netc({"LOCALNAME", dir + "/share"});
  EXPECT_EQ(Netc({"DISCONNECT"}), 228); // not a mount point: not connected
}
