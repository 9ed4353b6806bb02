// The permission editor: operators, their passwords and their rights,
// edited directly on the data module's tbPermisso (its current row when the
// editor opens is the logged-in operator's).
#pragma once

#include <QDialog>

namespace keldo::db {
class TDDados;
}

namespace keldo::app {

class TfmPermisso : public QDialog {
    Q_OBJECT
public:
    explicit TfmPermisso(db::TDDados& dm, QWidget* parent = nullptr);
    ~TfmPermisso() override;

private:
    void RetornaClick();

    db::TDDados& dm_;
};

} // namespace keldo::app
