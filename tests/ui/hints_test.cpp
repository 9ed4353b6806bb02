#include "ui/hints.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QVBoxLayout>

using namespace keldo::ui;

// Widgets made before and after the call, shown or not yet, get the minute;
// a widget that chose its own duration keeps it.
TEST(Hints, StayUpForAMinuteOnEveryWidget) {
    QWidget before;
    auto* own = new QPushButton("own", &before);
    own->setToolTipDuration(2000);
    installHintDuration(qApp);
    EXPECT_EQ(before.toolTipDuration(), kHintDurationMs);
    EXPECT_EQ(own->toolTipDuration(), 2000);

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton("Retorna");
    button->setToolTip("Fecha a janela");
    layout->addWidget(button);
    window.show();
    QApplication::processEvents();
    EXPECT_EQ(button->toolTipDuration(), kHintDurationMs);

    installHintDuration(qApp); // a second call adds no second filter
    QWidget tree;
    auto* child = new QPushButton(&tree);
    setHintDuration(&tree, 5000);
    EXPECT_EQ(child->toolTipDuration(), 5000);
}
