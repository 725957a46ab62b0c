#pragma once
// A settings store for tests that counts the writes reaching the store it
// wraps.
#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "platform/RegistryStore.h"

namespace platform_test {

// Counts what reaches the store, so a test can say "nothing was written".
class CountingStore : public platform::RegistryStore {
 public:
  explicit CountingStore(std::unique_ptr<platform::RegistryStore> inner) : inner_(std::move(inner)) {}
  std::atomic<int> writes{0};
  platform::RegStatus readBinary(platform::RegistryRoot r, const QString& k, const QString& n, QByteArray& d) override {
    return inner_->readBinary(r, k, n, d);
  }
  platform::RegStatus writeBinary(platform::RegistryRoot r, const QString& k, const QString& n,
                                  const QByteArray& d) override {
    ++writes;
    return inner_->writeBinary(r, k, n, d);
  }
  platform::RegStatus readInteger(platform::RegistryRoot r, const QString& k, const QString& n, std::int32_t& v) override {
    return inner_->readInteger(r, k, n, v);
  }
  platform::RegStatus writeInteger(platform::RegistryRoot r, const QString& k, const QString& n, std::int32_t v,
                                   bool onlyIfKeyExists) override {
    ++writes;
    return inner_->writeInteger(r, k, n, v, onlyIfKeyExists);
  }
  platform::RegStatus valueExists(platform::RegistryRoot r, const QString& k, const QString& n) override {
    return inner_->valueExists(r, k, n);
  }
  platform::RegStatus keyExists(platform::RegistryRoot r, const QString& k) override { return inner_->keyExists(r, k); }
  platform::RegStatus updateBinary(platform::RegistryRoot r, const QString& k, const QString& n,
                                   const std::function<bool(QByteArray&, platform::RegStatus)>& e) override {
    ++writes;
    return inner_->updateBinary(r, k, n, e);
  }
  QString lastError() const override { return inner_->lastError(); }

 private:
  std::unique_ptr<platform::RegistryStore> inner_;
};

}  // namespace platform_test
