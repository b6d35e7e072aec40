// A tiny service program for the service control manager's tests. Its
// behaviour follows words in its service name (argv[0] of its main
// procedure) and in its command line:
//   name "...nostop..."    accepts SHUTDOWN only, so STOP is refused
//   name "...slowstop..."  a STOP leaves it STOP_PENDING until C:\<name>.finish exists
//   name "...quit..."      the main procedure returns at once without a report
//   name "...report..."    writes C:\<name>.info (current directory, argv[0],
//                          environment) at start
//   argument "notservice"  never calls the dispatcher; writes C:\notservice.pid
//   argument "exit"        ends at once without calling the dispatcher
// Control 200 reports RUNNING with checkPoint 1 when the handler runs on the
// dispatcher's (main) thread, 2 otherwise.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/files/files.h"
#include "platform/locks/locks.h"
#include "platform/machine/machine.h"
#include "platform/scm/process.h"
#include "platform/scm/scm.h"
#include "platform/threads/threads.h"

namespace {

namespace scm = plat::scm;

constexpr uint32_t kControlWhichThread = 200;
constexpr uint32_t kHint = 3000;

std::thread::id mainThread;
scm::StatusHandle handle;
plat::Event stopEvent;
std::string serviceName;
uint32_t accepted = scm::kAcceptStop | scm::kAcceptShutdown;
bool slowStop = false;
std::atomic<bool> stopRequested{false};

bool NameHas(const char* word) { return serviceName.find(word) != std::string::npos; }

void Report(uint32_t state, uint32_t checkPoint = 0) {
  scm::ServiceStatus s;
  s.serviceType = scm::kOwnProcess;
  s.currentState = state;
  s.controlsAccepted = state == scm::kStartPending ? 0 : accepted;
  s.checkPoint = checkPoint;
  s.waitHint = kHint;
  scm::SetStatus(handle, s);
}

void Handler(uint32_t control) {
  switch (control) {
    case scm::kControlStop:
    case scm::kControlShutdown:
      Report(scm::kStopPending);
      stopRequested = true;
      if (!slowStop) stopEvent.Set();
      break;
    case kControlWhichThread:
      Report(scm::kRunning, std::this_thread::get_id() == mainThread ? 1 : 2);
      break;
    default:
      break;
  }
}

void WriteText(const std::string& windowsPath, const std::string& text) {
  plat::File f = plat::File::Open(windowsPath, "wb");
  f.Write(text.data(), 1, text.size());
  f.Close();
}

void ServiceMain(uint32_t argc, char** argv) {
  serviceName = argc > 0 ? argv[0] : "";
  handle = scm::RegisterHandler(serviceName.c_str(), Handler);
  if (NameHas("quit")) return;
  if (NameHas("nostop")) accepted = scm::kAcceptShutdown;
  slowStop = NameHas("slowstop");
  if (NameHas("report")) {
    const char* machine = std::getenv("VOSTREL_MACHINE");
    const char* root = std::getenv("SystemRoot");
    const char* marker = std::getenv("VOSTREL_SERVICE_NAME");
    std::string info = "cwd=" + plat::CurrentDirectory() + "\n" + "argv0=" + serviceName + "\n" +
                       "machine=" + (machine ? machine : "") + "\n" + "systemroot=" + (root ? root : "") +
                       "\n" + "marker=" + (marker ? marker : "(unset)") + "\n";
    WriteText("C:\\" + serviceName + ".info", info);
  }
  Report(scm::kRunning);
  while (!stopEvent.Wait(100)) {
    plat::FileStatus finish;
    if (stopRequested && plat::GetFileStatus("C:\\" + serviceName + ".finish", &finish)) break;
  }
  Report(scm::kStopped);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "exit") == 0) return 3;
  if (argc > 1 && std::strcmp(argv[1], "notservice") == 0) {
    WriteText("C:\\notservice.pid", std::to_string(plat::CurrentProcessId()));
    for (int i = 0; i < 120; ++i) plat::Sleep(1000);
    return 0;
  }
  mainThread = std::this_thread::get_id();
  const scm::DispatchEntry table[] = {{"", ServiceMain}, {nullptr, nullptr}};
  return scm::RunDispatcher(table) ? 1 : 0;
}
