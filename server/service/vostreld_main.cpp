// Program entry of vostreld: hands the process to the service control
// manager's dispatcher, which runs ServiceMain.
#include "platform/scm/scm.h"
#include "platform/threads/threads.h"
#include "server/service/ServiceEntry.h"

int main() {
  const plat::scm::DispatchEntry table[] = {{"", vostrel::ServiceMain}, {nullptr, nullptr}};
  const bool dispatched = plat::scm::RunDispatcher(table);
  if (!dispatched) vostrel::ServiceNote("Could not start Vostrel web server");
  // The listener may sit in accept and workers may still run: end here,
  // without static destructors racing them.
  plat::ExitProcess(dispatched ? 1 : 0);
}
