// The service control manager of the emulated machine: a service database
// below $VOSTREL_MACHINE/scm/, the calls a controller makes (open, create,
// delete, query, control, start) and the calls a service program makes
// (dispatcher, control handler, status reports).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat::scm {

// Service states (ServiceStatus::currentState).
constexpr uint32_t kStopped = 1;
constexpr uint32_t kStartPending = 2;
constexpr uint32_t kStopPending = 3;
constexpr uint32_t kRunning = 4;
constexpr uint32_t kContinuePending = 5;
constexpr uint32_t kPausePending = 6;
constexpr uint32_t kPaused = 7;

// Control codes. Codes 128 to 255 are the service's own and always delivered.
constexpr uint32_t kControlStop = 1;
constexpr uint32_t kControlPause = 2;
constexpr uint32_t kControlContinue = 3;
constexpr uint32_t kControlInterrogate = 4;  // always accepted; asks for the status
constexpr uint32_t kControlShutdown = 5;
constexpr uint32_t kFirstUserControl = 128;
constexpr uint32_t kLastUserControl = 255;

// Bits of ServiceStatus::controlsAccepted.
constexpr uint32_t kAcceptStop = 1;
constexpr uint32_t kAcceptPauseContinue = 2;
constexpr uint32_t kAcceptShutdown = 4;

// Service type, start types, error control.
constexpr uint32_t kOwnProcess = 0x10;
constexpr uint32_t kBootStart = 0;
constexpr uint32_t kSystemStart = 1;
constexpr uint32_t kAutoStart = 2;    // started by a machine start ("vostrel-sc boot")
constexpr uint32_t kDemandStart = 3;
constexpr uint32_t kDisabled = 4;
constexpr uint32_t kErrorControlIgnore = 0;
constexpr uint32_t kErrorControlNormal = 1;
constexpr uint32_t kErrorControlCritical = 3;

// Access masks; accepted for fidelity, every caller gets full access.
constexpr uint32_t kManagerAllAccess = 0xF003F;
constexpr uint32_t kServiceAllAccess = 0xF01FF;

// Windows error codes set by the calls below (read with LastError()).
constexpr uint32_t kErrFileNotFound = 2;
constexpr uint32_t kErrAccessDenied = 5;
constexpr uint32_t kErrInvalidHandle = 6;
constexpr uint32_t kErrDupName = 52;
constexpr uint32_t kErrInvalidParameter = 87;
constexpr uint32_t kErrInvalidName = 123;
constexpr uint32_t kErrBadExeFormat = 193;
constexpr uint32_t kErrInvalidServiceControl = 1052;
constexpr uint32_t kErrServiceRequestTimeout = 1053;
constexpr uint32_t kErrServiceAlreadyRunning = 1056;
constexpr uint32_t kErrServiceDoesNotExist = 1060;
constexpr uint32_t kErrServiceCannotAcceptControl = 1061;
constexpr uint32_t kErrServiceDisabled = 1058;
constexpr uint32_t kErrServiceNotActive = 1062;
constexpr uint32_t kErrServiceControllerConnect = 1063;
constexpr uint32_t kErrProcessAborted = 1067;
constexpr uint32_t kErrServiceMarkedForDelete = 1072;
constexpr uint32_t kErrServiceExists = 1073;

// Names longer than this are refused (kErrInvalidName): each name becomes
// file names of the database.
constexpr std::size_t kMaxServiceName = 200;

// GetLastError / SetLastError: per thread.
uint32_t LastError();
void SetLastError(uint32_t code);
// The system's message text for a code ("The specified service does not
// exist as an installed service."); a generic text for unknown codes.
const char* ErrorText(uint32_t code);

// SERVICE_STATUS: seven 32-bit fields.
struct ServiceStatus {
  uint32_t serviceType = 0;
  uint32_t currentState = 0;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};
static_assert(sizeof(ServiceStatus) == 28);

// What CreateService registers (and QueryConfig returns).
struct ServiceConfig {
  std::string name;
  std::string displayName;  // empty: the name
  uint32_t serviceType = kOwnProcess;
  uint32_t startType = kDemandStart;
  uint32_t errorControl = kErrorControlNormal;
  // Windows form; "%SystemRoot%" is expanded at start. A quoted path may be
  // followed by arguments ("\"C:\\x\\svc.exe\" -a b"); unquoted, the whole
  // text is the path.
  std::string binaryPath;
  bool markedForDelete = false;  // output only
};

// A handle to the service control manager (OpenSCManagerA). Empty when the
// open failed; Close() is CloseServiceHandle.
class Manager {
 public:
  Manager() = default;
  Manager(Manager&& other) noexcept;
  Manager& operator=(Manager&& other) noexcept;
  Manager(const Manager&) = delete;
  Manager& operator=(const Manager&) = delete;
  ~Manager() = default;

  explicit operator bool() const { return open_; }
  // false (kErrInvalidHandle) when the handle is empty.
  bool Close();
  const std::string& Folder() const { return folder_; }  // native database folder

 private:
  friend Manager OpenManager(uint32_t access);
  std::string folder_;
  bool open_ = false;
};

// A handle to one service (OpenServiceA / CreateServiceA).
class Service {
 public:
  Service() = default;
  Service(Service&& other) noexcept;
  Service& operator=(Service&& other) noexcept;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  ~Service() = default;

  explicit operator bool() const { return open_; }
  bool Close();
  const std::string& Name() const { return name_; }
  const std::string& Folder() const { return folder_; }

 private:
  friend Service MakeServiceHandle(const std::string& folder, const std::string& name);
  std::string folder_;
  std::string name_;
  bool open_ = false;
};

// ---- The controller's side ----

// OpenSCManagerA: creates the database folder if missing; empty handle and
// kErrAccessDenied when the caller cannot write it.
Manager OpenManager(uint32_t access = kManagerAllAccess);

// OpenServiceA: kErrInvalidHandle for an empty manager, kErrInvalidName,
// kErrServiceDoesNotExist. Service names are case-insensitive.
Service OpenService(const Manager& manager, const std::string& name,
                    uint32_t access = kServiceAllAccess);

// CreateServiceA: kErrServiceExists, kErrServiceMarkedForDelete while a
// deleted entry waits for its service to stop, kErrDupName when the display
// name is taken, kErrInvalidName, kErrInvalidParameter.
Service CreateService(const Manager& manager, const ServiceConfig& config,
                      uint32_t access = kServiceAllAccess);

// DeleteService: marks the entry; it goes once the service is stopped (at
// once when it is). kErrServiceMarkedForDelete when already marked.
bool DeleteService(const Service& service);

// QueryServiceStatus: the status the service last reported; a service whose
// process has ended reads as kStopped.
bool QueryStatus(const Service& service, ServiceStatus* status);

// ControlService: delivers the control to the service's handler and returns
// once it has run, with the status then current. kErrServiceNotActive when
// not running, kErrInvalidServiceControl when not accepted,
// kErrServiceCannotAcceptControl while a state change is pending,
// kErrServiceRequestTimeout when the handler does not return in time.
bool SendControl(const Service& service, uint32_t control, ServiceStatus* status);

// StartServiceA: starts the program detached and returns once its
// dispatcher has connected. kErrServiceAlreadyRunning, kErrFileNotFound,
// kErrServiceMarkedForDelete, kErrServiceRequestTimeout (program did not
// connect; it is killed).
bool StartService(const Service& service, int argc = 0, const char* const* argv = nullptr);

// QueryServiceConfigA.
bool QueryConfig(const Service& service, ServiceConfig* config);
// Process id of the running service (QueryServiceStatusEx); false when stopped.
bool QueryProcessId(const Service& service, uint32_t* pid);
// Names of the registered services (entries marked for deletion included).
std::vector<std::string> ListServices(const Manager& manager);

// ---- The service program's side ----

using MainProc = void (*)(uint32_t argc, char** argv);
using HandlerProc = void (*)(uint32_t control);

// One row of the dispatcher table; a row with main == nullptr ends it. A
// service of its own process runs the first row whatever its name.
struct DispatchEntry {
  const char* name;
  MainProc main;
};

// The status handle of RegisterHandler; nothing to close.
struct StatusHandle {
  uint32_t id = 0;
  explicit operator bool() const { return id != 0; }
};

// StartServiceCtrlDispatcherA. In a process not started by StartService it
// returns false at once (kErrServiceControllerConnect). Otherwise it runs the
// service's main procedure on a thread of its own (argv[0] = the service
// name), delivers controls to the registered handler on the calling thread,
// and returns true once the main procedure has returned.
bool RunDispatcher(const DispatchEntry* table);

// RegisterServiceCtrlHandlerA: an empty handle outside a running dispatcher.
StatusHandle RegisterHandler(const char* name, HandlerProc handler);

// SetServiceStatus: makes the status the one controllers see.
bool SetStatus(StatusHandle handle, const ServiceStatus& status);

// ---- Test hooks ----

// Called in the service's process with every status that SetStatus accepts.
using StatusObserver = void (*)(const ServiceStatus& status);
void SetStatusObserver(StatusObserver observer);
// How long StartService waits for the dispatcher (default 30000 ms).
void SetStartTimeout(uint32_t ms);

}  // namespace plat::scm
