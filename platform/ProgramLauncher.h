#pragma once
#include <QString>
#include <QStringList>
#include <optional>
#include <string_view>

namespace platform {

// The Linux executable that stands for a Windows program name of the
// identity table: "tessold.exe" -> "tessold", "Marvane.exe" -> "Marvane"
// (matched without regard to case, as Windows file names are). nullopt for
// any other name, so nothing but our two programs can be started this way.
std::optional<QString> executableFor(std::string_view windowsName);

// Starts program with arguments, detached (no child of ours), in folder as
// its working folder, with our environment, no signal blocked and every
// signal at its default action, whatever this process has blocked, handles
// or ignores. False, with the reason on stderr, when it could not be run.
bool startDetachedClean(const QString& program, const QStringList& arguments, const QString& folder);

// Starts that program from folder (default: the folder of the running
// executable) by startDetachedClean, with folder as its working folder, no arguments.
// Callers do not examine the result; a failure is reported on stderr and
// returned for tests.
bool startProgram(std::string_view windowsName, const QString& folder = QString());

}  // namespace platform
