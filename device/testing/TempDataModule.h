#pragma once
// A data module on a store and folders of its own, all under one temporary
// folder: <root>/registry.sqlite, <root>/program and <root>/Documents.
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "device/DMUnit.h"
#include "platform/RegistryStore.h"

namespace device_test {

class TempDataModule {
 public:
  // Opens the store and starts the module on it; false when the temporary
  // folder could not be made.
  bool Start() {
    if (!root_.isValid()) return false;
    store_ = platform::openSqliteRegistryStore(Path("registry.sqlite"));
    dm_ = Another();
    dm_->InitData();
    return true;
  }
  // Another module on the same store and folders, not yet started: what a
  // later run of the program reads back once InitData has run.
  std::unique_ptr<TDM> Another() const {
    return std::make_unique<TDM>(TDMEnvironment{store_.get(), Path("program"), Path("Documents")});
  }
  QString Path(const QString& name) const { return root_.filePath(name); }
  TDM& DM() { return *dm_; }
  platform::RegistryStore& Store() { return *store_; }

 private:
  QTemporaryDir root_;
  std::unique_ptr<platform::RegistryStore> store_;
  std::unique_ptr<TDM> dm_;
};

}  // namespace device_test
