#include "exchange_windows.h"

#include "TfmExporta.h"
#include "TfmLayOutAr.h"
#include "ui/window_registry.h"

namespace keldo::exchange {

void registerExchangeWindows() {
    // One line per window: ui::registerWindow("TfmX", [](QWidget* parent, db::TDDados& dm) {...});
    ui::registerWindow("TfmExporta", [](QWidget* parent, db::TDDados& dm) {
        TfmExporta w(dm, parent);
        w.exec();
    });
    ui::registerWindow("TfmLayOutAr", [](QWidget* parent, db::TDDados& dm) {
        TfmLayOutAr w(dm, parent);
        w.exec();
    });
}

} // namespace keldo::exchange
