// "Exportação de pontos": the period, the company and employee filters, and
// the button that writes the punch file (punch_export.h) in the mode the
// collector configuration chooses.
//
// Idle until "&Exportar"; during an export the button is disabled, the
// cursor is the hourglass and the window keeps repainting; afterwards both
// return, whether the export ended or failed.
#pragma once

#include "exchange/punch_export.h"

#include <QDialog>
#include <QElapsedTimer>

class QComboBox;
class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;

namespace keldo::db {
class TDDados;
}

namespace keldo::exchange {

class TfmExporta : public QDialog {
    Q_OBJECT
public:
    explicit TfmExporta(db::TDDados& dm, QWidget* parent = nullptr);

    // How often, at most, a running export repaints and lets events run.
    static constexpr int kRepaintIntervalMs = 50;

private:
    void SpeedButton1Click();
    void showProgress(qint64 exported, qint64 rows);
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
    QElapsedTimer sinceRepaint_;
};

} // namespace keldo::exchange
