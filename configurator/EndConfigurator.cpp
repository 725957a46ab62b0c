#include "configurator/EndConfigurator.h"

#include "configurator/MainConfig.h"
#include "device/DMUnit.h"
#include "platform/PointerSettings.h"

void EndConfigurator(std::unique_ptr<TMarvaneMain>& window, std::unique_ptr<TDM>& dm,
                     std::unique_ptr<platform::PointerSettings>& pointer,
                     const std::function<void()>& waitForWorkers) {
  // Without the window no Apply can start another worker; the running ones
  // use the pointer settings and hand work to this thread, so they end
  // before the pointer settings and the application do.
  window.reset();
  if (waitForWorkers) waitForWorkers();
  dm.reset();
  pointer.reset();
}
