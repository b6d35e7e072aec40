// Start-up helpers of the server thread: the banner texts, the configuration
// file and its defaults, and the listen port check.
#pragma once
#include <cstdint>
#include <string>

namespace vostrel {

constexpr int kWindowsDirSize = 256;
constexpr int kStatusPathSize = 260;
constexpr int kBannerBufferSize = 8192;

// Line reads of the configuration file: the value's read limit plus one.
constexpr int kAddressReadSize = 17;
constexpr int kPortReadSize = 7;
constexpr int kRootReadSize = 256;
constexpr int kPasswordReadSize = 256;

constexpr char kConfigFileName[] = "\\system\\VostrelWeb.SET";
constexpr char kStoreFileName[] = "\\system\\VostrelBlog.VDB";
constexpr char kStoreDirName[] = "\\system";

constexpr char kDefaultAddress[] = "127.0.0.1";
constexpr char kDefaultPort[] = "80";
constexpr char kDefaultRoot[] = "\\Program Files\\Vostrel Web Server\\";

constexpr int32_t kPortLimit = 65000;  // ports from here up are refused
constexpr int kListenBacklog = 5;

constexpr char kStartedText[] = "\r\n[Vostrel Web Server] v1.1.5 started\r\n\t\t\t\t";
constexpr char kStatusStartText[] = "Web Server Started/Restarted";
constexpr char kBadAddressText[] =
    "Server Configuration Error: Bad server address set in the VostrelWeb.SET configuration file";
constexpr char kBadPortText[] =
    "Server Configuration Error: Bad server port set in the VostrelWeb.SET configuration file";

// The two banner lines, held only encoded (143 and 624 characters).
extern const char kBannerFirstEncoded[];
extern const char kBannerSecondEncoded[];

// Every line feed among the first n bytes of value becomes a NUL.
void stripNewLine(char* value, int n);

// Fills ConfigAddress, ConfigPort, ConfigRoot and ConfigPassword from the
// four-line file (Windows-form path), or with the defaults when it cannot be
// opened. Returns whether the file was read.
bool ReadConfiguration(const std::string& configPath);

// The port text as strtol reads it; false unless 0 < port < kPortLimit.
bool ParseListenPort(const char* text, int32_t* port);

// The Windows directory of the machine followed by a file name, built in a
// buffer of bufferSize bytes as GetWindowsDirectoryA fills it.
std::string SystemPath(const char* fileName, int bufferSize);

// Writes the decoded banner and the "started" entry to the server log.
void WriteBanner();

}  // namespace vostrel
