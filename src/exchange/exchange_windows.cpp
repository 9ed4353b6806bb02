#include "exchange_windows.h"

#include "ui/window_registry.h"

namespace keldo::exchange {

void registerExchangeWindows() {
    // One line per window: ui::registerWindow("TfmX", [](QWidget* parent, db::TDDados& dm) {...});
}

} // namespace keldo::exchange
