#pragma once
#include <QString>

namespace platform {

// The folder of the running executable, where config.ini, ui.local and the
// skin sit beside both programs. MOUSE_PROGRAM_DIR overrides it (tests, the
// staged build folder).
QString programFolder();

// The user's documents folder (XDG "DOCUMENTS", ~/Documents by default),
// where the profile folder lives. Not created here.
QString documentsFolder();

}  // namespace platform
