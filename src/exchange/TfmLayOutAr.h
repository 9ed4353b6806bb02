// The layout window "Configuração Arquivo de Saída": edits the one row of
// `layoutar` in place, through controls bound to the data module's tbLayOut,
// and renders sample lines of the header and the body from what its fields
// show at that moment, saved or not.
//
// The first change puts the row into Edit. "&Grava" stores it; "&Retorna"
// asks whether to store it; any other way of closing drops it. The window
// never creates the row: when the table holds none (a damaged database) it
// says so and keeps its fields disabled.
#pragma once

#include "exchange/layout_engine.h"
#include "ui/window_kit.h"

#include <optional>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace keldo::db {
class DataSource;
class TDDados;
} // namespace keldo::db
namespace keldo::ui {
class DBCheckBox;
class DBEdit;
class DBRadioGroup;
} // namespace keldo::ui

namespace keldo::exchange {

// Sample values of the body preview.
inline constexpr const char* kSampleEmployeeCode = "123456789012";
inline constexpr const char* kSampleMatricula = "521";
inline constexpr const char* kSampleName = "NOME DO FUNCIONARIO";
inline constexpr const char* kSampleCompany = "NOME DA EMPRESA";

class TfmLayOutAr : public ui::FixedDialog {
    Q_OBJECT
public:
    explicit TfmLayOutAr(db::TDDados& dm, QWidget* parent = nullptr);
    ~TfmLayOutAr() override;

    // Whether the row is there to be edited (false: the fields stay disabled).
    bool hasRow() const { return hasRow_; }

    // The layout as the fields show it now; widths must be whole numbers (an
    // empty width field is not one, though an empty stored width reads as
    // 0). Throws db::DbError with a Portuguese text naming the text that is
    // not a whole number.
    LayoutRow rowFromFields() const;

    // Closing in any way other than "&Grava" or "&Retorna" drops the edit.
    void done(int result) override;

private:
    void CabecalhoClick();
    void AplicarCabecalhoClick();
    void AplicarCorpoClick();
    void GravaClick();
    void RetornaClick();
    void applyHeaderRule();
    // Writes what the controls still hold and stores the row; false (after
    // telling the operator why) when it could not be stored.
    bool store();

    db::TDDados& dm_;
    db::DataSource* dsLayOut;
    bool hasRow_ = false;

    ui::DBEdit* edMatriTam;
    ui::DBRadioGroup* rgAlinhamento;
    ui::DBEdit* edMatriBrancos;
    ui::DBEdit* edNomeTam;
    ui::DBEdit* edEmpresaTam;
    ui::DBEdit* edDataFormato;
    ui::DBEdit* edConteudo6;
    ui::DBEdit* edConteudo7;
    ui::DBEdit* edConteudo8;
    ui::DBCheckBox* cbCabecalho;
    ui::DBEdit* edCabecalhoMascara;
    QLineEdit* edResultadoCabecalho;
    QPushButton* btAplicarCabecalho;
    ui::DBEdit* edCorpoMascara;
    QLineEdit* edResultadoCorpo;
    QPushButton* btAplicarCorpo;
    QPlainTextEdit* mmAjuda;
    QPushButton* btGrava;
    QPushButton* btRetorna;
};

// A whole number typed into a width field: surrounding spaces are allowed.
// Throws db::DbError "'<text>' não é um número inteiro válido." otherwise,
// an empty or blank text included.
int widthFromText(const QString& text);

} // namespace keldo::exchange
