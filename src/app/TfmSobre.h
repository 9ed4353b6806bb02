// The About window. Ctrl+Shift+F2 opens the maze game when it is part of
// the program (its window registers as kGameWindow).
#pragma once

#include <QDialog>

class QLabel;

namespace keldo::db {
class TDDados;
}

namespace keldo::app {

inline constexpr const char* kGameWindow = "TfmFolks";

// The database kind the About window names: the engine behind the alias
// once every component is bound to it, "MySQL" (the data module's other,
// unused connection) before.
QString databaseKind(db::TDDados& dm);

class TfmSobre : public QDialog {
    Q_OBJECT
public:
    explicit TfmSobre(db::TDDados& dm, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    db::TDDados& dm_;
};

} // namespace keldo::app
