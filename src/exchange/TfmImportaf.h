// "Importação de colaboradores": the column settings of the import file
// (kept in the shared INI file, read on opening and written back as typed on
// any close) and the import itself, with its result in the memo.
#pragma once

#include "employee_exchange.h"
#include "ui/window_kit.h"

#include <array>
#include <utility>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace keldo::db {
class TDDados;
}

namespace keldo::exchange {

class TfmImportaf : public ui::FixedDialog {
    Q_OBJECT
public:
    explicit TfmImportaf(db::TDDados& dm, QWidget* parent = nullptr);
    ~TfmImportaf() override;

    void done(int result) override;

private:
    void Button1Click();
    void FormClose();
    ImportColumnTexts typedTexts() const;
    // Each field with the setting it shows.
    std::array<std::pair<QLineEdit*, QString ImportColumnTexts::*>, 6> fields() const;

    db::TDDados& dm_;
    QLineEdit* edPosNome;
    QLineEdit* edTamNom;
    QLineEdit* edPosMat;
    QLineEdit* edTamMat;
    QLineEdit* edPosCod;
    QLineEdit* edTamCod;
    QPlainTextEdit* Memo1;
    QPushButton* Button1;
    QPushButton* Button2;
};

} // namespace keldo::exchange
