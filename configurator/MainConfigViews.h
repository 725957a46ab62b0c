#pragma once
// What the main window's views share while building their controls: the
// light swatch colours and the small helpers that make named controls.
// Only the window's own sources include this.
#include <QLabel>
#include <QRect>
#include <QString>
#include <cstdint>

#include "toolkit/uiLanguage.h"

namespace mainconfig {

// The six swatch colours: red, yellow, green, teal, magenta, violet.
inline constexpr uint32_t kSwatchColors[6] = {0xFFFF0000u, 0xFFFFFF00u, 0xFF00FF00u,
                                             0xFF006060u, 0xFFFF00FFu, 0xFF5400FFu};

inline QLabel* caption(QWidget* parent, const char* name, const QString& text, QRect where, bool heading = false) {
  auto* l = new QLabel(parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(where);
  if (heading) l->setStyleSheet(QStringLiteral("color: #ff3b4f; font-weight: bold; font-size: 13px;"));
  SetUiText(l, text);
  return l;
}

template <class T>
T* named(T* w, const char* name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

}  // namespace mainconfig
