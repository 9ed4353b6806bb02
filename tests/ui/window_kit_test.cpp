#include "ui/window_kit.h"

#include "ui/bound_controls.h"
#include "ui/hints.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>
#include <stdexcept>

using namespace keldo;
using ui::Placement;

namespace {

// A dialog with one hinted button, whose layout asks for less than 300 × 200.
class Sample : public ui::FixedDialog {
public:
    explicit Sample(QWidget* parent = nullptr) : FixedDialog(parent) {
        button = new QPushButton(QStringLiteral("&Retorna"), this);
        button->setToolTip(QStringLiteral("Fecha a janela"));
        (new QVBoxLayout(this))->addWidget(button);
    }
    QPushButton* button;
};

QPoint screenCentre(QWidget& w) {
    return w.screen()->geometry().center();
}

TEST(FixedDialog, FixedFrameSizeAndPlace) {
    const struct {
        Placement placement;
        int minimumWidth, minimumHeight;
    } cases[] = {
        {Placement::ScreenCentre, 0, 0},
        {Placement::ScreenCentre, 300, 0},
        {Placement::ScreenCentre, 300, 200},
        {Placement::Designed, 300, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << int(c.placement) << " " << c.minimumWidth << "x" << c.minimumHeight);
        Sample w;
        const QSize asked = w.sizeHint();
        ASSERT_LT(asked.width(), 300);
        ASSERT_LT(asked.height(), 200);
        w.finishLayout(c.placement, c.minimumWidth, c.minimumHeight);

        const Qt::WindowFlags f = w.windowFlags();
        EXPECT_TRUE(f & Qt::WindowTitleHint);
        EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(f & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowContextHelpButtonHint));
        EXPECT_EQ(w.minimumSize(), w.maximumSize());
        EXPECT_EQ(w.size(), QSize(std::max(asked.width(), c.minimumWidth),
                                  std::max(asked.height(), c.minimumHeight)));
        EXPECT_EQ(w.button->toolTipDuration(), ui::kHintDurationMs);
        if (c.placement == Placement::ScreenCentre) {
            EXPECT_EQ(w.pos() + w.rect().center(), screenCentre(w));
        } else {
            EXPECT_FALSE(w.testAttribute(Qt::WA_Moved)) << "left to the platform";
        }

        // Shown, it stays where it was put and as large.
        const QPoint placed = w.pos();
        w.show();
        QApplication::processEvents();
        if (c.placement == Placement::ScreenCentre) {
            EXPECT_EQ(w.pos(), placed);
        }
        EXPECT_EQ(w.minimumSize(), w.maximumSize());
    }
}

TEST(FixedDialog, DesignedPlaceIsOverTheParent) {
    QWidget parent;
    parent.setGeometry(40, 60, 700, 500);
    parent.show();
    Sample w(&parent);
    w.finishLayout(Placement::Designed);
    w.show();
    QApplication::processEvents();
    const QPoint centre = w.geometry().center();
    EXPECT_TRUE(parent.geometry().contains(centre))
        << centre.x() << "," << centre.y() << " outside the parent";
    EXPECT_NE(centre, screenCentre(w));
}

TEST(BusyCursor, NestsAndGivesBackHoweverTheScopeEnds) {
    QApplication::setOverrideCursor(Qt::CrossCursor); // somebody else's, under ours
    QPushButton button;
    {
        ui::BusyCursor outer(&button);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        EXPECT_FALSE(button.isEnabled());
        try {
            ui::BusyCursor inner;
            throw std::runtime_error("falhou");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor) << "the outer one";
        EXPECT_FALSE(button.isEnabled());
        outer.release();
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
        EXPECT_TRUE(button.isEnabled());
        outer.release(); // once only, and not again when the scope ends
    }
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::CrossCursor);
    QApplication::restoreOverrideCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The widget may go before the guard does.
    auto* gone = new QPushButton;
    {
        ui::BusyCursor busy(gone);
        delete gone;
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(ProgressDisplay, DrawsTheFirstAndTheLastCountAndFillsTheBar) {
    constexpr int kNever = 3600 * 1000; // no repaint falls due while the case runs
    struct Step {
        qint64 done, total;
        const char* shown;
        int bar;
    };
    const struct {
        const char* what;
        int intervalMs;
        QList<Step> steps;
        const char* finished;
    } cases[] = {
        {"the total reached",
         kNever,
         {{1, 4, "Exportando... 1/4", 250},
          {2, 4, "Exportando... 1/4", 250},
          {4, 4, "Exportando... 4/4", 1000}},
         "Exportando... 4/4"},
        {"stopped short of the total",
         kNever,
         {{1, 3, "Exportando... 1/3", 333}, {2, 3, "Exportando... 1/3", 333}},
         "Exportando... 2/3"},
        {"every count due",
         0,
         {{1, 3, "Exportando... 1/3", 333}, {2, 3, "Exportando... 2/3", 666}},
         "Exportando... 2/3"},
        {"nothing to do", kNever, {}, "Exportando... 0/0"},
        {"beyond an int",
         kNever,
         {{3'000'000'000, 6'000'000'000, "Exportando... 3000000000/6000000000", 500}},
         "Exportando... 3000000000/6000000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QLabel label(QStringLiteral("antes"));
        QProgressBar bar;
        bar.setRange(0, 1);
        bar.setValue(1);
        ui::ProgressDisplay progress(&label, &bar, c.intervalMs);
        progress.start();
        EXPECT_EQ(label.text(), "");
        EXPECT_EQ(bar.value(), 0);
        for (const Step& s : c.steps) {
            progress.show(s.done, s.total);
            EXPECT_EQ(label.text(), s.shown) << s.done;
            EXPECT_EQ(bar.value() * 1000 / bar.maximum(), s.bar) << s.done;
        }
        progress.finish();
        EXPECT_EQ(label.text(), c.finished);
        EXPECT_EQ(bar.value(), bar.maximum());
    }
}

template <class Control> void expectBound(Control* c, QWidget* parent, db::DataSource* ds) {
    EXPECT_EQ(c->parentWidget(), parent);
    EXPECT_EQ(c->objectName(), "nome1");
    EXPECT_EQ(c->link().dataSource(), ds);
    EXPECT_EQ(c->link().fieldName(), "nome");
    EXPECT_EQ(c->toolTip(), "Nome do colaborador");
}

TEST(BoundControls, NameFieldAndHintInOneCall) {
    QWidget parent;
    db::DataSource ds;
    const char* hint = "Nome do colaborador";
    expectBound(ui::bound<ui::DBEdit>(&parent, "nome1", &ds, "nome", hint), &parent, &ds);
    expectBound(ui::bound<ui::DBMemo>(&parent, "nome1", &ds, "nome", hint), &parent, &ds);
    expectBound(ui::bound<ui::DBCheckBox>(&parent, "nome1", &ds, "nome", hint), &parent, &ds);
    expectBound(ui::bound<ui::DBRadioGroup>(&parent, "nome1", &ds, "nome", hint), &parent, &ds);
    expectBound(ui::bound<ui::DBLookupComboBox>(&parent, "nome1", &ds, "nome", hint), &parent, &ds);

    auto* cb = ui::bound<ui::DBCheckBox>(&parent, "Gerar Cabeçalho", "nome1", &ds, "nome", hint);
    expectBound(cb, &parent, &ds);
    EXPECT_EQ(cb->text(), "Gerar Cabeçalho");
    auto* rg = ui::bound<ui::DBRadioGroup>(&parent, "Alinhamento", "nome1", &ds, "nome", hint);
    expectBound(rg, &parent, &ds);
    EXPECT_EQ(rg->title(), "Alinhamento");
    rg->addItem("Direita", "D");
    EXPECT_EQ(rg->button(0)->objectName(), "nome1_0") << "named before its items";

    EXPECT_EQ(ui::bound<ui::DBEdit>(&parent, "semDica", &ds, "nome")->toolTip(), "");
}

} // namespace
