// "Exportação de colaboradores": the operator picks a company (or "Todas")
// and a file, and the employees are written as fixed-width lines.
#pragma once

#include "ui/window_kit.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace keldo::db {
class TDDados;
}

namespace keldo::exchange {

class TfmExpFun : public ui::FixedDialog {
    Q_OBJECT
public:
    explicit TfmExpFun(db::TDDados& dm, QWidget* parent = nullptr);
    ~TfmExpFun() override;

private:
    void SpeedButton1Click();
    void fillCompanies();

    db::TDDados& dm_;
    QComboBox* ComboBox1;
    QPushButton* SpeedButton1;
    QPushButton* SpeedButton5;
    QLabel* Label5;
    QProgressBar* ProgressBar1;
};

} // namespace keldo::exchange
