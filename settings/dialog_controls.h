// The dialog controls behind a dialog window handle, as the page reaches them: on Windows the real
// dialog window, elsewhere the host's own DialogControls (see vyx/vyx_page.h).
#pragma once

#include "vyx/vyx_page.h"

DialogControls* ControlsOfDialog(void* dialog_window);
