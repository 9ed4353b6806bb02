#include "exchange_windows.h"

#include "TfmExpFun.h"
#include "TfmExporta.h"
#include "TfmImportaf.h"
#include "TfmLayOutAr.h"
#include "ui/window_names.h"
#include "ui/window_registry.h"

namespace keldo::exchange {

void registerExchangeWindows() {
    // One line per window, named as in ui/window_names.h.
    ui::registerWindow(QString::fromLatin1(ui::kTfmExporta),
                       [](QWidget* parent, db::TDDados& dm) { TfmExporta(dm, parent).exec(); });
    ui::registerWindow(QString::fromLatin1(ui::kTfmLayOutAr),
                       [](QWidget* parent, db::TDDados& dm) { TfmLayOutAr(dm, parent).exec(); });
    ui::registerWindow(QString::fromLatin1(ui::kTfmExpFun),
                       [](QWidget* parent, db::TDDados& dm) { TfmExpFun(dm, parent).exec(); });
    ui::registerWindow(QString::fromLatin1(ui::kTfmImportaf),
                       [](QWidget* parent, db::TDDados& dm) { TfmImportaf(dm, parent).exec(); });
}

} // namespace keldo::exchange
