#include "ui/window_kit.h"

#include "ui/hints.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

namespace keldo::ui {
namespace {

// The bar counts in thousandths whatever the number of items, which also
// keeps counts beyond an int off the bar's int range.
constexpr int kBarSteps = 1000;

constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

} // namespace

void centreOnScreen(QWidget* window) {
    QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        window->move(screen->geometry().center() - window->rect().center());
}

FixedDialog::FixedDialog(QWidget* parent) : QDialog(parent, kFixedDialogFlags) {}

void FixedDialog::finishLayout(Placement placement, int minimumWidth, int minimumHeight) {
    setFixedSize(sizeHint().expandedTo(QSize(minimumWidth, minimumHeight)));
    setHintDuration(this);
    if (placement == Placement::ScreenCentre)
        centreOnScreen(this);
}

BusyCursor::BusyCursor(QWidget* disabledWhileBusy) : widget_(disabledWhileBusy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (widget_)
        widget_->setEnabled(false);
}

BusyCursor::~BusyCursor() {
    release();
}

void BusyCursor::release() {
    if (!held_)
        return;
    held_ = false;
    QApplication::restoreOverrideCursor();
    if (widget_)
        widget_->setEnabled(true);
}

ProgressDisplay::ProgressDisplay(QLabel* label, QProgressBar* bar, int intervalMs,
                                 const QString& text)
    : label_(label), bar_(bar), intervalMs_(intervalMs), text_(text) {}

void ProgressDisplay::start() {
    done_ = total_ = 0;
    sincePaint_.invalidate();
    if (label_)
        label_->clear();
    if (bar_) {
        bar_->setRange(0, kBarSteps);
        bar_->setValue(0);
    }
}

void ProgressDisplay::show(qint64 done, qint64 total) {
    done_ = done;
    total_ = total;
    const bool last = done >= total;
    if (!last && sincePaint_.isValid() && sincePaint_.elapsed() < intervalMs_)
        return;
    sincePaint_.start();
    paint();
    QCoreApplication::processEvents();
}

void ProgressDisplay::finish() {
    paint();
    if (bar_) {
        bar_->setRange(0, kBarSteps);
        bar_->setValue(kBarSteps);
    }
}

void ProgressDisplay::paint() {
    if (label_)
        label_->setText(text_.arg(done_).arg(total_));
    if (bar_) {
        bar_->setRange(0, kBarSteps);
        const qint64 part = total_ > 0 ? qBound<qint64>(0, done_, total_) * kBarSteps / total_ : 0;
        bar_->setValue(int(part));
    }
}

} // namespace keldo::ui
