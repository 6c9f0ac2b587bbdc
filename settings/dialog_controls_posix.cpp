#include "settings/dialog_controls.h"

// Without a window system the host hands the page its own control set as the window handle.
DialogControls* ControlsOfDialog(void* dialog_window) {
  return static_cast<DialogControls*>(dialog_window);
}
