// Start-up of the server thread: banner, configuration file and defaults,
// listen port check.
#include "server/listener/Startup.h"

#include <cstdlib>
#include <cstring>

#include "platform/files/files.h"
#include "platform/machine/machine.h"
#include "server/listener/ServerGlobals.h"
#include "server/listener/ServerLog.h"
#include "server/listener/Unitthanksgiving.h"

namespace vostrel {

// "VOSTREL WEB" and "THANKS TO EVERYONE WHO HELPED BUILD THIS SERVER.",
// made with scripts/encode-banner.py.
const char kBannerFirstEncoded[] =
    "16.32215931625.369998992878.7276712387810.32869349687.554111408942.666751356344.14853263752"
    "0.6359535351223.09517707512.666751356342.29375850651";
const char kBannerSecondEncoded[] =
    "10.32869349683.161046138592.188678960724.893148635493.851917446248.727671238780.63595353512"
    "10.32869349685.369998992870.635953535122.6667513563416.32215931622.666751356347.55411140894"
    "396.4522535035.369998992874.893148635492.666751356340.6359535351223.09517707513.16104613859"
    "5.369998992870.635953535123.161046138592.666751356344.148532637525.945929187822.66675135634"
    "2.531450450480.635953535122.2937585065112.64777812523.364201749124.148532637522.53145045048"
    "0.6359535351210.32869349683.161046138593.364201749128.727671238780.635953535128.72767123878"
    "2.666751356347.5541114089416.32215931622.666751356347.554111408941.05190995729";

static_assert(sizeof(kBannerFirstEncoded) - 1 == 11 * kEncodedGroupSize);
static_assert(sizeof(kBannerSecondEncoded) - 1 == 48 * kEncodedGroupSize);

void stripNewLine(char* value, int n) {
  try {
    for (int i = 0; i < n; ++i) {
      if (value[i] == '\n') value[i] = '\0';
    }
  } catch (...) {
    ServerLog("Server Error: stripNewLine()", false);
  }
}

bool ReadConfiguration(const std::string& configPath) {
  std::memset(ConfigAddress, 0, sizeof ConfigAddress);
  std::memset(ConfigPort, 0, sizeof ConfigPort);
  std::memset(ConfigRoot, 0, sizeof ConfigRoot);
  std::memset(ConfigPassword, 0, sizeof ConfigPassword);
  static_assert(kAddressReadSize <= kConfigAddressSize && kPortReadSize <= kConfigPortSize &&
                kRootReadSize <= kConfigRootSize && kPasswordReadSize <= kConfigPasswordSize);

  plat::File file = plat::File::Open(configPath, "rt");
  if (!file.IsOpen()) {
    std::strcpy(ConfigAddress, kDefaultAddress);
    std::strcpy(ConfigPort, kDefaultPort);
    std::strcpy(ConfigRoot, kDefaultRoot);
    return false;
  }
  // Bounded reads: a longer line is split and its rest becomes the next value.
  file.GetLine(ConfigAddress, kAddressReadSize);
  file.GetLine(ConfigPort, kPortReadSize);
  file.GetLine(ConfigRoot, kRootReadSize);
  file.GetLine(ConfigPassword, kPasswordReadSize);
  stripNewLine(ConfigPassword, kPasswordReadSize);
  stripNewLine(ConfigRoot, kRootReadSize);
  stripNewLine(ConfigPort, kPortReadSize);
  stripNewLine(ConfigAddress, kAddressReadSize);
  file.Close();
  return true;
}

bool ParseListenPort(const char* text, int32_t* port) {
  const long value = std::strtol(text, nullptr, 10);
  if (value <= 0 || value >= kPortLimit) return false;
  *port = static_cast<int32_t>(value);
  return true;
}

std::string SystemPath(const char* fileName, int bufferSize) {
  std::string buffer(bufferSize, '\0');
  plat::GetWindowsDirectory(buffer.data(), static_cast<unsigned>(bufferSize));
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer + fileName;
}

void WriteBanner() {
  // Kept until the process ends, as the design keeps its decoder.
  static TThanksGiving* const decoder = new TThanksGiving;
  static_assert(kBannerBufferSize >= kDecodedTextSize);
  std::string first(kBannerBufferSize, '\0');
  std::string second(kBannerBufferSize, '\0');
  decoder->Decode(kBannerFirstEncoded, first.data());
  std::strcat(first.data(), "\r\n");
  decoder->Decode(kBannerSecondEncoded, second.data());
  std::strcat(first.data(), second.c_str());
  std::strcat(first.data(), "\r\n\r\n\t\t\t\t");
  ServerLog(first.c_str(), false);
  ServerLog(kStartedText, false);
}

}  // namespace vostrel
