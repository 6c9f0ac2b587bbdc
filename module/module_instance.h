// What the module file owns for the whole process, from its load to its unload: its own
// instance handle and the ROMEO manager. Only the module file is built with this; the board
// library and the tests never construct process-wide state.
#pragma once

// The module file's instance handle as the platform reported it when the file was attached.
void* ModuleInstance();
