// "Exportação de pontos": the period, the company and employee filters, and
// the button that writes the punch file (punch_export.h) in the mode the
// collector configuration chooses.
//
// Idle until "&Exportar"; during an export the button is disabled, the
// cursor is the hourglass and the window keeps repainting; afterwards both
// return, whether the export ended or failed.
#pragma once

#include "exchange/punch_export.h"
#include "ui/window_kit.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;

namespace keldo::db {
class TDDados;
}

namespace keldo::exchange {

class TfmExporta : public ui::FixedDialog {
    Q_OBJECT
public:
    explicit TfmExporta(db::TDDados& dm, QWidget* parent = nullptr);

private:
    void SpeedButton1Click();
    QString chooseFile(ExportMode mode);

    db::TDDados& dm_;
    QDateEdit* DateTimePicker1;
    QDateEdit* DateTimePicker2;
    QComboBox* ComboBox1;
    QComboBox* ComboBox2;
    QPushButton* SpeedButton1;
    QPushButton* SpeedButton5;
    QLabel* Label5;
    QProgressBar* ProgressBar1;
};

} // namespace keldo::exchange
