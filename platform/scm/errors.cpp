// The caller's last error code and the message texts of the codes the
// service control manager sets.
#include <cstdint>

#include "platform/scm/scm.h"

namespace plat::scm {
namespace {

thread_local uint32_t lastError = 0;

struct ErrorEntry {
  uint32_t code;
  const char* text;
};

constexpr ErrorEntry kErrorTexts[] = {
    {0, "The operation completed successfully."},
    {kErrFileNotFound, "The system cannot find the file specified."},
    {kErrAccessDenied, "Access is denied."},
    {kErrInvalidHandle, "The handle is invalid."},
    {kErrDupName, "The name is already in use as either a service name or a service display name."},
    {kErrInvalidParameter, "The parameter is incorrect."},
    {kErrInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
    {kErrBadExeFormat, "The program is not a valid application."},
    {kErrInvalidServiceControl, "The requested control is not valid for this service."},
    {kErrServiceRequestTimeout, "The service did not respond to the start or control request in a timely fashion."},
    {kErrServiceAlreadyRunning, "An instance of the service is already running."},
    {kErrServiceDoesNotExist, "The specified service does not exist as an installed service."},
    {kErrServiceCannotAcceptControl, "The service cannot accept control messages at this time."},
    {kErrServiceDisabled, "The service cannot be started, either because it is disabled or because it has no enabled devices associated with it."},
    {kErrServiceNotActive, "The service has not been started."},
    {kErrServiceControllerConnect, "The service process could not connect to the service controller."},
    {kErrProcessAborted, "The process terminated unexpectedly."},
    {kErrServiceMarkedForDelete, "The specified service has been marked for deletion."},
    {kErrServiceExists, "The specified service already exists."},
};

}  // namespace

uint32_t LastError() { return lastError; }
void SetLastError(uint32_t code) { lastError = code; }

const char* ErrorText(uint32_t code) {
  for (const ErrorEntry& e : kErrorTexts) {
    if (e.code == code) return e.text;
  }
  return "An unexpected error occurred.";
}

}  // namespace plat::scm
