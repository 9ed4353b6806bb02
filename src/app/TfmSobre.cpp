#include "TfmSobre.h"

#include "db/data_module.h"
#include "pictures.h"
#include "ui/window_names.h"
#include "ui/window_registry.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace keldo::app {

QString databaseKind(db::TDDados& dm) {
    if (dm.session().boundToAlias && !dm.engineName().isEmpty())
        return dm.engineName();
    return QStringLiteral("MySQL");
}

TfmSobre::TfmSobre(db::TDDados& dm, QWidget* parent) : FixedDialog(parent), dm_(dm) {
    setObjectName(QStringLiteral("fmSobre"));
    setWindowTitle(QStringLiteral("Sobre"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    auto* product = new QLabel(QString::fromUtf8(kProductName), this);
    QFont big(QStringLiteral("serif"), 28);
    big.setStyleHint(QFont::Serif);
    big.setItalic(true);
    product->setFont(big);
    auto* company = new QLabel(QString::fromUtf8(kCompanyName), this);
    auto* version = new QLabel(QString::fromUtf8(kVersionText), this);
    version->setObjectName(QStringLiteral("lbVersao"));
    auto* kind = new QLabel(databaseKind(dm), this);
    kind->setObjectName(QStringLiteral("lbBanco"));
    auto* clock = new QLabel(this);
    clock->setPixmap(clockPicture(80));
    auto* mark = new QLabel(this);
    mark->setPixmap(companyPicture(56));
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("btOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(product);
    texts->addWidget(company);
    texts->addWidget(version);
    texts->addWidget(kind);
    auto* top = new QHBoxLayout;
    top->addWidget(clock, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    top->addWidget(mark, 0, Qt::AlignTop);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(ok, 0, Qt::AlignRight);
    finishLayout(ui::Placement::Designed, 420);
}

void TfmSobre::keyPressEvent(QKeyEvent* event) {
    constexpr Qt::KeyboardModifiers kMask =
        Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier;
    if (event->key() == Qt::Key_F2 &&
        (event->modifiers() & kMask) == (Qt::ControlModifier | Qt::ShiftModifier)) {
        ui::openWindow(QString::fromLatin1(ui::kTfmFolks), this, dm_);
        return;
    }
    FixedDialog::keyPressEvent(event);
}

} // namespace keldo::app
