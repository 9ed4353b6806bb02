// The splash window shown while the program starts; start-up writes its
// progress into the status line lbStatus.
#pragma once

#include <QWidget>

class QLabel;

namespace keldo::app {

class TfmSplash : public QWidget {
    Q_OBJECT
public:
    explicit TfmSplash(QWidget* parent = nullptr);
    // Sets the status line and paints it at once.
    void setStatus(const QString& text);
    QString status() const;

private:
    QLabel* lbStatus;
};

} // namespace keldo::app
