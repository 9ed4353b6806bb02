#include "ui/hints.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace keldo::ui {

namespace {

// Every widget is polished before it is first shown, which makes Polish the
// one place to reach the widgets of every window without each window asking.
class HintDurationFilter : public QObject {
public:
    HintDurationFilter(QObject* parent, int msec) : QObject(parent), msec_(msec) {}
    void setDuration(int msec) { msec_ = msec; }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Polish && o->isWidgetType()) {
            auto* w = static_cast<QWidget*>(o);
            if (w->toolTipDuration() < 0)
                w->setToolTipDuration(msec_);
        }
        return false;
    }

private:
    int msec_;
};

} // namespace

void installHintDuration(QApplication* app, int msec) {
    if (!app)
        return;
    // One filter per application; a QPointer forgets it with the application.
    static QPointer<HintDurationFilter> filter;
    if (filter && filter->parent() == app) {
        filter->setDuration(msec);
    } else {
        filter = new HintDurationFilter(app, msec);
        app->installEventFilter(filter);
    }
    for (QWidget* w : QApplication::allWidgets())
        if (w->toolTipDuration() < 0)
            w->setToolTipDuration(msec);
}

void setHintDuration(QWidget* root, int msec) {
    if (!root)
        return;
    root->setToolTipDuration(msec);
    for (QWidget* w : root->findChildren<QWidget*>())
        w->setToolTipDuration(msec);
}

} // namespace keldo::ui
