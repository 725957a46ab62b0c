#pragma once
// The frame both key capture dialogs share: background, title, hint, the
// read-only key box and OK / CANCEL.

#include "macro/MacroSkin.h"

class QLabel;
class QLineEdit;

namespace keycapture {

struct Frame {
  QLabel* title;
  QLabel* hint;
  QLineEdit* box;
  TBitmapStateButton* ok;
  TBitmapStateButton* cancel;
};

Frame Build(TSkinDialog* dialog, const char* title, const char* hint, const char* boxName, const char* okName,
            const char* cancelName);

}  // namespace keycapture
