// vostrel-sc: the service control command of the emulated machine, with the
// syntax of Windows' sc for the subset scripts need.
//
//   vostrel-sc create NAME binPath= PATH [start= auto|demand|disabled] [DisplayName= TEXT]
//   vostrel-sc start NAME | stop NAME | query NAME | qc NAME | delete NAME
//   vostrel-sc boot                      starts every automatic service
//   vostrel-sc wait NAME running|stopped [SECONDS]   (ours: polls until the state, default 30 s)
//
// query prints lines of the form "        STATE              : 4  RUNNING".
// Every failure prints "[SC] <Call> FAILED <code>:" and the code's text, and
// exits with status 1; usage errors exit with status 2.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/scm/scm.h"

namespace {

namespace scm = plat::scm;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kDefaultWaitSeconds = 30;
constexpr int kWaitPollMs = 200;

const char* StateName(uint32_t state) {
  switch (state) {
    case scm::kStopped: return "STOPPED";
    case scm::kStartPending: return "START_PENDING";
    case scm::kStopPending: return "STOP_PENDING";
    case scm::kRunning: return "RUNNING";
    case scm::kContinuePending: return "CONTINUE_PENDING";
    case scm::kPausePending: return "PAUSE_PENDING";
    case scm::kPaused: return "PAUSED";
    default: return "UNKNOWN";
  }
}

const char* StartTypeName(uint32_t type) {
  switch (type) {
    case scm::kBootStart: return "BOOT_START";
    case scm::kSystemStart: return "SYSTEM_START";
    case scm::kAutoStart: return "AUTO_START";
    case scm::kDemandStart: return "DEMAND_START";
    case scm::kDisabled: return "DISABLED";
    default: return "UNKNOWN";
  }
}

int Failed(const char* call) {
  uint32_t code = scm::LastError();
  std::printf("[SC] %s FAILED %u:\n\n%s\n\n", call, code, scm::ErrorText(code));
  return kExitFailure;
}

int Usage() {
  std::printf(
      "Usage:\n"
      "  vostrel-sc create NAME binPath= PATH [start= auto|demand|disabled] [DisplayName= TEXT]\n"
      "  vostrel-sc start NAME\n"
      "  vostrel-sc stop NAME\n"
      "  vostrel-sc query NAME\n"
      "  vostrel-sc qc NAME\n"
      "  vostrel-sc delete NAME\n"
      "  vostrel-sc boot\n"
      "  vostrel-sc wait NAME running|stopped [SECONDS]\n");
  return kExitUsage;
}

bool SameWord(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

void PrintStatus(const std::string& name, const scm::ServiceStatus& s, uint32_t pid, bool withPid) {
  std::printf("\nSERVICE_NAME: %s\n", name.c_str());
  std::printf("        TYPE               : %x  %s\n", s.serviceType,
              s.serviceType == scm::kOwnProcess ? "WIN32_OWN_PROCESS" : "");
  std::printf("        STATE              : %u  %s\n", s.currentState, StateName(s.currentState));
  std::printf("                                (%s, %s, %s)\n",
              s.controlsAccepted & scm::kAcceptStop ? "STOPPABLE" : "NOT_STOPPABLE",
              s.controlsAccepted & scm::kAcceptPauseContinue ? "PAUSABLE" : "NOT_PAUSABLE",
              s.controlsAccepted & scm::kAcceptShutdown ? "ACCEPTS_SHUTDOWN" : "IGNORES_SHUTDOWN");
  std::printf("        WIN32_EXIT_CODE    : %u  (0x%x)\n", s.win32ExitCode, s.win32ExitCode);
  std::printf("        SERVICE_EXIT_CODE  : %u  (0x%x)\n", s.serviceSpecificExitCode,
              s.serviceSpecificExitCode);
  std::printf("        CHECKPOINT         : 0x%x\n", s.checkPoint);
  std::printf("        WAIT_HINT          : 0x%x\n", s.waitHint);
  if (withPid) std::printf("        PID                : %u\n", pid);
}

bool OpenBoth(const std::string& name, scm::Manager* manager, scm::Service* service, int* exitCode) {
  *manager = scm::OpenManager(scm::kManagerAllAccess);
  if (!*manager) {
    *exitCode = Failed("OpenSCManager");
    return false;
  }
  *service = scm::OpenService(*manager, name, scm::kServiceAllAccess);
  if (!*service) {
    *exitCode = Failed("OpenService");
    return false;
  }
  return true;
}

int Create(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage();
  scm::ServiceConfig config;
  config.name = args[1];
  // Options come as "option= value" pairs, as sc takes them.
  for (std::size_t i = 2; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return Usage();
    const std::string& option = args[i];
    const std::string& value = args[i + 1];
    if (SameWord(option, "binPath=")) {
      config.binaryPath = value;
    } else if (SameWord(option, "DisplayName=")) {
      config.displayName = value;
    } else if (SameWord(option, "start=")) {
      if (SameWord(value, "auto")) config.startType = scm::kAutoStart;
      else if (SameWord(value, "demand")) config.startType = scm::kDemandStart;
      else if (SameWord(value, "disabled")) config.startType = scm::kDisabled;
      else return Usage();
    } else if (SameWord(option, "type=")) {
      if (!SameWord(value, "own")) return Usage();
    } else if (SameWord(option, "error=")) {
      if (SameWord(value, "normal")) config.errorControl = scm::kErrorControlNormal;
      else if (SameWord(value, "ignore")) config.errorControl = scm::kErrorControlIgnore;
      else return Usage();
    } else {
      return Usage();
    }
  }
  if (config.binaryPath.empty()) return Usage();
  scm::Manager manager = scm::OpenManager(scm::kManagerAllAccess);
  if (!manager) return Failed("OpenSCManager");
  scm::Service service = scm::CreateService(manager, config, scm::kServiceAllAccess);
  if (!service) return Failed("CreateService");
  std::printf("[SC] CreateService SUCCESS\n");
  return 0;
}

int Start(const std::string& name) {
  scm::Manager manager;
  scm::Service service;
  int code = 0;
  if (!OpenBoth(name, &manager, &service, &code)) return code;
  if (!scm::StartService(service, 0, nullptr)) return Failed("StartService");
  scm::ServiceStatus s;
  uint32_t pid = 0;
  scm::QueryStatus(service, &s);
  scm::QueryProcessId(service, &pid);
  PrintStatus(service.Name(), s, pid, true);
  return 0;
}

int Stop(const std::string& name) {
  scm::Manager manager;
  scm::Service service;
  int code = 0;
  if (!OpenBoth(name, &manager, &service, &code)) return code;
  scm::ServiceStatus s;
  if (!scm::SendControl(service, scm::kControlStop, &s)) return Failed("ControlService");
  PrintStatus(service.Name(), s, 0, false);
  return 0;
}

int Query(const std::string& name) {
  scm::Manager manager;
  scm::Service service;
  int code = 0;
  if (!OpenBoth(name, &manager, &service, &code)) return code;
  scm::ServiceStatus s;
  if (!scm::QueryStatus(service, &s)) return Failed("QueryServiceStatus");
  PrintStatus(service.Name(), s, 0, false);
  return 0;
}

int QueryConfig(const std::string& name) {
  scm::Manager manager;
  scm::Service service;
  int code = 0;
  if (!OpenBoth(name, &manager, &service, &code)) return code;
  scm::ServiceConfig c;
  if (!scm::QueryConfig(service, &c)) return Failed("QueryServiceConfig");
  std::printf("[SC] QueryServiceConfig SUCCESS\n\nSERVICE_NAME: %s\n", c.name.c_str());
  std::printf("        TYPE               : %x  WIN32_OWN_PROCESS\n", c.serviceType);
  std::printf("        START_TYPE         : %u   %s\n", c.startType, StartTypeName(c.startType));
  std::printf("        ERROR_CONTROL      : %u   %s\n", c.errorControl,
              c.errorControl == scm::kErrorControlNormal ? "NORMAL" : "");
  std::printf("        BINARY_PATH_NAME   : %s\n", c.binaryPath.c_str());
  std::printf("        DISPLAY_NAME       : %s\n", c.displayName.c_str());
  if (c.markedForDelete) std::printf("        (MARKED_FOR_DELETE)\n");
  return 0;
}

int Delete(const std::string& name) {
  scm::Manager manager;
  scm::Service service;
  int code = 0;
  if (!OpenBoth(name, &manager, &service, &code)) return code;
  if (!scm::DeleteService(service)) return Failed("DeleteService");
  std::printf("[SC] DeleteService SUCCESS\n");
  return 0;
}

// What a machine start does: entries marked for deletion whose service is
// stopped go (opening purges them), then every automatic service starts.
int Boot() {
  scm::Manager manager = scm::OpenManager(scm::kManagerAllAccess);
  if (!manager) return Failed("OpenSCManager");
  int result = 0;
  for (const std::string& name : scm::ListServices(manager)) {
    scm::Service service = scm::OpenService(manager, name, scm::kServiceAllAccess);
    if (!service) continue;  // gone with its deletion mark
    scm::ServiceConfig c;
    if (!scm::QueryConfig(service, &c) || c.markedForDelete || c.startType != scm::kAutoStart) continue;
    scm::ServiceStatus s;
    if (scm::QueryStatus(service, &s) && s.currentState != scm::kStopped) continue;
    if (scm::StartService(service, 0, nullptr)) {
      std::printf("[SC] StartService %s SUCCESS\n", name.c_str());
    } else {
      result = Failed(("StartService " + name).c_str());
    }
  }
  return result;
}

int Wait(const std::vector<std::string>& args) {
  if (args.size() < 3 || args.size() > 4) return Usage();
  uint32_t wanted;
  if (SameWord(args[2], "running")) wanted = scm::kRunning;
  else if (SameWord(args[2], "stopped")) wanted = scm::kStopped;
  else return Usage();
  int seconds = args.size() == 4 ? std::atoi(args[3].c_str()) : kDefaultWaitSeconds;
  scm::Manager manager;
  scm::Service service;
  int code = 0;
  if (!OpenBoth(args[1], &manager, &service, &code)) return code;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  scm::ServiceStatus s;
  for (;;) {
    if (!scm::QueryStatus(service, &s)) return Failed("QueryServiceStatus");
    if (s.currentState == wanted) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      scm::SetLastError(scm::kErrServiceRequestTimeout);
      return Failed("Wait");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kWaitPollMs));
  }
  PrintStatus(service.Name(), s, 0, false);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string& command = args[0];
  if (SameWord(command, "create")) return Create(args);
  if (SameWord(command, "boot")) return args.size() == 1 ? Boot() : Usage();
  if (SameWord(command, "wait")) return Wait(args);
  if (args.size() != 2) return Usage();
  if (SameWord(command, "start")) return Start(args[1]);
  if (SameWord(command, "stop")) return Stop(args[1]);
  if (SameWord(command, "query")) return Query(args[1]);
  if (SameWord(command, "qc")) return QueryConfig(args[1]);
  if (SameWord(command, "delete")) return Delete(args[1]);
  return Usage();
}
