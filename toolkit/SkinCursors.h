#pragma once
// The skin's two cursors for the whole application: "images\hand.cur" where
// a widget asks for the pointing hand (buttons, links, menu rows that ask
// for it) and "images\attack.cur" as the arrow of every window (main
// window, dialogs, popup menus, the macro manager, the help window).
// Widgets with a shape of their own (the text cursor of an edit box) keep
// it. A missing or damaged file leaves the system's shape for its cursor.
#include <QCursor>
#include <QString>
#include <optional>

class QWidget;

// A Windows cursor file (.cur): the picture and the hot spot of its first
// entry. nullopt for a missing, short, oversized or damaged file.
std::optional<QCursor> LoadCursorFile(const QString& path);

// Loads both files and applies them from now on to every widget of the
// application, including those that exist already. Calling it again
// replaces the earlier pair; with both files missing nothing is replaced
// any more.
void InstallSkinCursors(const QString& handFile, const QString& arrowFile);

// The pair in use (nullopt where the system's shape stays).
std::optional<QCursor> SkinHandCursor();
std::optional<QCursor> SkinArrowCursor();
