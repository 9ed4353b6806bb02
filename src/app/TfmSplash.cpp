#include "TfmSplash.h"

#include "pictures.h"
#include "ui/window_kit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace keldo::app {

TfmSplash::TfmSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("fmSplash"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, QColor(0x1f, 0x4e, 0x8c));
    setPalette(pal);

    auto* product = new QLabel(QString::fromUtf8(kProductName), this);
    QFont big(QStringLiteral("serif"), 36);
    big.setStyleHint(QFont::Serif);
    big.setItalic(true);
    product->setFont(big);
    auto* company = new QLabel(QString::fromUtf8(kCompanyName), this);
    auto* version = new QLabel(QString::fromUtf8(kVersionText), this);
    auto* clock = new QLabel(this);
    clock->setPixmap(clockPicture(96));
    auto* mark = new QLabel(this);
    mark->setPixmap(companyPicture(64));
    lbStatus = new QLabel(this);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));

    auto* texts = new QVBoxLayout;
    texts->addWidget(product);
    texts->addWidget(company);
    texts->addWidget(version);
    texts->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(clock);
    top->addLayout(texts, 1);
    top->addWidget(mark, 0, Qt::AlignTop);
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(24, 24, 24, 16);
    all->addLayout(top);
    all->addWidget(lbStatus);
    setFixedSize(460, 200);
    ui::centreOnScreen(this);
}

void TfmSplash::setStatus(const QString& text) {
    lbStatus->setText(text);
    lbStatus->repaint();
}

QString TfmSplash::status() const {
    return lbStatus->text();
}

} // namespace keldo::app
