#pragma once
// The end of the configurator's program.
#include <functional>
#include <memory>

class TDM;
class TMarvaneMain;
namespace platform {
class PointerSettings;
}  // namespace platform

// Ends what the configurator's program made, at the end of its event loop:
// the window, then every desktop-settings worker (`waitForWorkers`, which
// is TuiThread::WaitForAll), then the data module and the pointer settings.
void EndConfigurator(std::unique_ptr<TMarvaneMain>& window, std::unique_ptr<TDM>& dm,
                     std::unique_ptr<platform::PointerSettings>& pointer,
                     const std::function<void()>& waitForWorkers);
