#include "exchange_windows.h"

#include "TfmExpFun.h"
#include "TfmExporta.h"
#include "TfmImportaf.h"
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
    ui::registerWindow(QString::fromLatin1(kEmployeeExportWindow),
                       [](QWidget* parent, db::TDDados& dm) { TfmExpFun(dm, parent).exec(); });
    ui::registerWindow(QString::fromLatin1(kEmployeeImportWindow),
                       [](QWidget* parent, db::TDDados& dm) { TfmImportaf(dm, parent).exec(); });
}

} // namespace keldo::exchange
