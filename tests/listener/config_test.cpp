// Start-up configuration: stripNewLine, the bounded reads of VostrelWeb.SET
// (line ends, split lines, short files, defaults) and the listen port check.
#include <cstring>
#include <string>
#include <vector>

#include "listener_fixture.h"
#include "server/listener/Startup.h"

namespace {

using vostrel::ConfigAddress;
using vostrel::ConfigPassword;
using vostrel::ConfigPort;
using vostrel::ConfigRoot;

constexpr char kConfigPath[] = "C:\\WINDOWS\\system\\VostrelWeb.SET";

TEST(StripNewLineTest, OnlyTheFirstNBytesChange) {
  char value[8] = {'a', '\n', 'b', '\n', 'c', '\n', 0, 0};
  vostrel::stripNewLine(value, 4);
  EXPECT_EQ(std::string(value, 8), std::string("a\0b\0c\n\0\0", 8));
}

TEST(ParseListenPortTest, AcceptsOnlyAboveZeroAndBelow65000) {
  struct Case {
    const char* text;
    bool accepted;
    int32_t port;
  };
  const std::vector<Case> cases = {
      {"64999", true, 64999}, {"65000", false, 0},   {"65535", false, 0},
      {"0", false, 0},        {"abc", false, 0},     {"-80", false, 0},
      {"1", true, 1},         {"8080x", true, 8080}, {"", false, 0},
  };
  for (const Case& c : cases) {
    int32_t port = 0;
    EXPECT_EQ(vostrel::ParseListenPort(c.text, &port), c.accepted) << c.text;
    EXPECT_EQ(port, c.port) << c.text;
  }
}

class ConfigTest : public ListenerMachine {};

TEST_F(ConfigTest, FileContentsGiveTheFourValues) {
  struct Case {
    const char* what;
    std::string file;
    const char* address;
    const char* port;
    const char* root;
    const char* password;
  };
  const std::vector<Case> cases = {
      {"LF line ends", "10.0.0.5\n8080\nC:\\www\\\nsecret\n", "10.0.0.5", "8080", "C:\\www\\",
       "secret"},
      {"CR LF line ends", "10.0.0.5\r\n8080\r\nC:\\www\\\r\nsecret\r\n", "10.0.0.5", "8080",
       "C:\\www\\", "secret"},
      {"no line end on the last line", "0.0.0.0\n80\nD:\\site\\\npw", "0.0.0.0", "80", "D:\\site\\",
       "pw"},
      // 16 characters fit the address read; the rest fills the port read,
      // whose line end then falls to the root, and the real port to the password.
      {"long first line spills into the port", "127.000.000.001xyz\n80\nC:\\www\\\npw\n",
       "127.000.000.001x", "yz", "80", "C:\\www\\"},
      {"long port line spills into the root", "1.2.3.4\n123456789\nC:\\www\\\npw\n", "1.2.3.4",
       "123456", "789", "C:\\www\\"},
      {"fewer lines leave values empty", "1.2.3.4\n", "1.2.3.4", "", "", ""},
      {"an empty file is not the defaults", "", "", "", "", ""},
      {"root without a backslash is kept", "1.2.3.4\n80\nC:\\www\n\n", "1.2.3.4", "80", "C:\\www",
       ""},
  };
  for (const Case& c : cases) {
    WriteWindowsFile(kConfigPath, c.file);
    EXPECT_TRUE(vostrel::ReadConfiguration(kConfigPath)) << c.what;
    EXPECT_STREQ(ConfigAddress, c.address) << c.what;
    EXPECT_STREQ(ConfigPort, c.port) << c.what;
    EXPECT_STREQ(ConfigRoot, c.root) << c.what;
    EXPECT_STREQ(ConfigPassword, c.password) << c.what;
  }
}

TEST_F(ConfigTest, MissingFileGivesTheDefaults) {
  std::strcpy(ConfigPassword, "left over");
  EXPECT_FALSE(vostrel::ReadConfiguration(kConfigPath));
  EXPECT_STREQ(ConfigAddress, "127.0.0.1");
  EXPECT_STREQ(ConfigPort, "80");
  EXPECT_STREQ(ConfigRoot, "\\Program Files\\Vostrel Web Server\\");
  EXPECT_STREQ(ConfigPassword, "");
}

TEST_F(ConfigTest, SystemPathFollowsTheWindowsDirectory) {
  EXPECT_EQ(vostrel::SystemPath(vostrel::kConfigFileName, vostrel::kWindowsDirSize),
            "C:\\WINDOWS\\system\\VostrelWeb.SET");
  setenv("SystemRoot", "D:\\WINNT", 1);
  EXPECT_EQ(vostrel::SystemPath(vostrel::kStoreFileName, vostrel::kWindowsDirSize),
            "D:\\WINNT\\system\\VostrelBlog.VDB");
  unsetenv("SystemRoot");
}

}  // namespace
