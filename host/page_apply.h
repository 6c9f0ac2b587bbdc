// "The user opens the configuration dialog, sets the board's page and presses Apply": the host
// asks the page for its property-sheet page record, shows the page, changes its controls as a
// user would (each change reported to the page as the platform reports it) and applies.
#pragma once

#include <cstdint>
#include <string>

#include "vyx/vyx.h"

// False with the reason in *why when the page could not be shown.
bool ApplyThroughPage(VyxPage* page, HostPageSite* site, const int32_t volumes[8],
                      const int32_t outputs[8], int32_t use_romeo, std::string* why);
