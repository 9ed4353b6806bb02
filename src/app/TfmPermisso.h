// The permission editor: operators, their passwords and their rights, edited
// directly on the data module's tbPermisso, whose current row when the editor
// opens is the logged-in operator's. "&Retorna" drops an unsaved change; the
// close box leaves it pending for the look-up that follows to store or drop.
#pragma once

#include "ui/window_kit.h"

namespace keldo::db {
class DataSource;
class TDDados;
} // namespace keldo::db
namespace keldo::ui {
class DBNavigator;
}

namespace keldo::app {

class TfmPermisso : public ui::FixedDialog {
    Q_OBJECT
public:
    explicit TfmPermisso(db::TDDados& dm, QWidget* parent = nullptr);
    ~TfmPermisso() override;

    ui::DBNavigator* navigator() const { return DBNavigator1; }

private:
    void RetornaClick();

    db::TDDados& dm_;
    db::DataSource* dsPermisso;
    ui::DBNavigator* DBNavigator1;
};

// Makes the editor the window of "Senhas de acesso".
void registerPermissionEditor();

} // namespace keldo::app
