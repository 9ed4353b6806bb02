// The windows of the export and import, as the main menu opens them.
#pragma once

namespace keldo::exchange {

// Registers the opener of every window of this folder with the window
// registry; the program calls it once at start.
void registerExchangeWindows();

} // namespace keldo::exchange
