#include "macro/HookSource.h"

namespace {

// Stands in while no hook component is installed: nothing is captured, as
// when the hook library is missing.
class TInertHookSource final : public THookSource {
 public:
  bool DLLLoaded() const override { return false; }
  void RecordKeyboardSingleKey() override {}
  void StopRecordKeyboardSingleKey() override {}
  void RecordKeyboardComboKey() override {}
  void StopRecordKeyboardComboKey() override {}
  void RecordKeyboardMacroKeyEx() override {}
  // A stop still reports the (empty) recording, as the contract asks.
  void StopRecordKeyboardMacroKeyEx() override {
    if (OnStopRecordKeyboardMacroKey) OnStopRecordKeyboardMacroKey({});
  }
};

THookSourceFactory& factory() {
  static THookSourceFactory f;
  return f;
}

}  // namespace

void SetHookSourceFactory(THookSourceFactory f) { factory() = std::move(f); }

std::unique_ptr<THookSource> CreateHookSource(QObject* owner) {
  if (factory()) {
    if (auto source = factory()(owner)) return source;
  }
  return std::make_unique<TInertHookSource>();
}
