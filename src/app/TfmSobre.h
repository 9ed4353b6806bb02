// The About window. Ctrl+Shift+F2 opens the maze game when it is part of
// the program (its window registers as ui::kTfmFolks).
#pragma once

#include "ui/window_kit.h"

class QLabel;

namespace keldo::db {
class TDDados;
}

namespace keldo::app {

// The database kind the About window names: the engine behind the alias
// once every component is bound to it, "MySQL" (the data module's other,
// unused connection) before.
QString databaseKind(db::TDDados& dm);

class TfmSobre : public ui::FixedDialog {
    Q_OBJECT
public:
    explicit TfmSobre(db::TDDados& dm, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    db::TDDados& dm_;
};

} // namespace keldo::app
