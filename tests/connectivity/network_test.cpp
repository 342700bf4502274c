// The SSH setting against a configuration file in the data root, with the
// host's command runner recording; and the addresses read from the system.
#include "connectivity/Network.h"
#include "platform/HostSystem.h"
#include "platform/Paths.h"

#include "../support/Shell.h"
#include "../support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class NetworkSsh : public ::testing::Test {
protected:
    void SetUp() override {
        static int run = 0;
        ASSERT_TRUE(host::setRoot(testsupport::tempDir() + "ssh" + std::to_string(++run)));
        config = host::hostPath(Network::kSshConfig);
        host::makeFolders(config.substr(0, config.rfind('/')));
        host::clearRecordedCommands();
        host::setCommandRunner(nullptr);
        hostSum = hostConfigSum();
    }
    void TearDown() override {
        host::setCommandRunner(nullptr);
        EXPECT_EQ(hostConfigSum(), hostSum);
    }
    void write(const std::string& text) { std::ofstream(config) << text; }
    static std::string hostConfigSum() { return testsupport::shellOutput("sha256sum /etc/ssh/sshd_config 2>&1"); }

    std::string config;
    std::string hostSum;
    Network net;
};

TEST_F(NetworkSsh, EnablingRewritesTheSandboxFileAndRecordsOneCommand) {
    EXPECT_EQ(config.rfind(host::root(), 0), 0u);
    write("Port 22\nPermitRootLogin no\nUsePAM yes\n");
    net.sshRootLogin.setValue(1, false);
    EXPECT_TRUE(net.setSshRootLogin());
    EXPECT_EQ(readFile(config), "Port 22\nPermitRootLogin yes\nUsePAM yes\n");
    EXPECT_EQ(host::recordedCommands(), std::vector<std::string>{Network::kSshCommand});
    EXPECT_EQ(net.appliedSshRootLogin(), 1);
    // The same value again does nothing.
    EXPECT_TRUE(net.setSshRootLogin());
    EXPECT_EQ(host::recordedCommands().size(), 1u);
}

TEST_F(NetworkSsh, NothingToChangeRunsNothing) {
    write("PermitRootLogin no\n");
    EXPECT_TRUE(net.setSshRootLogin());
    write("Port 22\r\nPermitRootLogin no\r\n");
    Network crlf;
    EXPECT_TRUE(crlf.setSshRootLogin());
    EXPECT_EQ(readFile(config), "Port 22\r\nPermitRootLogin no\r\n");
    write("Port 22\n");
    net.sshRootLogin.setValue(1, false);
    EXPECT_TRUE(net.setSshRootLogin());
    EXPECT_EQ(readFile(config), "Port 22\n");
    EXPECT_TRUE(host::recordedCommands().empty());
}

TEST_F(NetworkSsh, AMissingFileNeverTurnsTheSettingOn) {
    net.sshRootLogin.setValue(1, false);
    EXPECT_FALSE(net.setSshRootLogin());
    EXPECT_EQ(net.sshRootLogin.value.load(), 0);
    EXPECT_EQ(net.sshRootLogin.toString(), "false");
    EXPECT_EQ(net.appliedSshRootLogin(), -1);
    EXPECT_TRUE(host::recordedCommands().empty());
}

TEST_F(NetworkSsh, AFailingInstallIsAFailure) {
    write("PermitRootLogin no\n");
    host::setCommandRunner([](const std::string&) { return 1; });
    net.sshRootLogin.setValue(1, false);
    EXPECT_FALSE(net.setSshRootLogin());
    EXPECT_EQ(net.appliedSshRootLogin(), -1);
    EXPECT_EQ(readFile(config), "PermitRootLogin no\n");
    // The emulated move fails as well when its source is gone.
    host::setCommandRunner(nullptr);
    EXPECT_NE(host::runCommand("sudo mv /etc/ssh/none /etc/ssh/sshd_config && sudo systemctl restart sshd"), 0);
    EXPECT_NE(host::runCommand("sudo reboot"), 0);
}

TEST_F(NetworkSsh, AnUnwritableNewFileIsAFailureAndLeavesTheOldFile) {
    write("PermitRootLogin no\n");
    host::makeFolders(host::hostPath(Network::kSshConfigNew));  // a folder where the file would go
    net.sshRootLogin.setValue(1, false);
    EXPECT_FALSE(net.setSshRootLogin());
    EXPECT_EQ(net.sshRootLogin.value.load(), 0);
    EXPECT_EQ(readFile(config), "PermitRootLogin no\n");
    EXPECT_TRUE(host::recordedCommands().empty());
}

TEST(NetworkAddresses, HostNameAndAMissingInterface) {
    Network net;
    host::setNetworkInterface("corvane-no-such-if");
    net.readNetworkAddresses();
    EXPECT_EQ(net.ethernetIPv4.toString(), "");
    EXPECT_EQ(net.ethernetIPv6.toString(), "");
    char name[65];
    ASSERT_TRUE(host::hostName(name, sizeof name));
    EXPECT_EQ(net.hostnameIP.toString(), std::string(name) + ".local");
    host::setNetworkInterface("lo");
    net.readNetworkAddresses();
    EXPECT_EQ(net.ethernetIPv4.toString(), "127.0.0.1");
    host::setNetworkInterface("eth0");
    char tiny[4];
    ASSERT_TRUE(host::hostName(tiny, sizeof tiny));
    EXPECT_LT(strlen(tiny), sizeof tiny);
}

}  // namespace
