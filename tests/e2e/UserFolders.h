#pragma once
// Every folder a real program of the end-to-end tests looks in for the user
// (home, documents, XDG folders, the runtime folder) inside one temporary
// root, so no test touches the real user's files, store or sockets.
#include <QDir>

#include <cstdlib>

namespace e2e {

inline void PointUserFoldersAt(const QDir& root) {
  for (const char* d : {"home/Documents", "run", "config", "data", "cache"}) root.mkpath(d);
  const auto set = [&](const char* name, const QString& value) { ::setenv(name, value.toLocal8Bit().constData(), 1); };
  set("HOME", root.filePath("home"));
  set("XDG_CONFIG_HOME", root.filePath("config"));
  set("XDG_DATA_HOME", root.filePath("data"));
  set("XDG_CACHE_HOME", root.filePath("cache"));
  set("XDG_RUNTIME_DIR", root.filePath("run"));
  set("MOUSE_RUNTIME_DIR", root.filePath("run"));
  // No microphone unless a test starts the daemon.
  set("PULSE_SERVER", "unix:" + root.filePath("no-pulse"));
}

}  // namespace e2e
