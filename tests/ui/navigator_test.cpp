#include "db/dataset.h"
#include "test_support.h"
#include "ui/data_controls.h"
#include "ui/navigator.h"
#include "ui/prompter.h"

#include <gtest/gtest.h>

#include <QTest>

using namespace keldo;
using namespace keldo::ui;

namespace {

class NavigatorTest : public ::testing::Test {
protected:
    keldo::testing::TestDatabase tdb;
    db::Table holidays;
    db::DataSource ds;
    ScriptedPrompter prompter;
    DBNavigator nav;

    void SetUp() override {
        holidays.setDatabase(&tdb.db());
        holidays.setTableName("feriados");
        holidays.open();
        for (int d : {1, 2, 3}) {
            holidays.append();
            holidays.fieldByName("dia").setValue(QDate(2026, 1, d));
            holidays.post();
        }
        holidays.first();
        ds.setDataSet(&holidays);
        nav.setDataSource(&ds);
    }
};

} // namespace

TEST_F(NavigatorTest, DeleteAsksFirstAndOnlyOkDeletes) {
    holidays.next();
    prompter.answers = {Answer::Cancel, Answer::Ok};
    nav.click(NavButton::Delete);
    EXPECT_EQ(holidays.recordCount(), 3);
    EXPECT_EQ(holidays.fieldByName("dia").asDate(), QDate(2026, 1, 2));

    nav.click(NavButton::Delete);
    EXPECT_EQ(holidays.recordCount(), 2);
    EXPECT_FALSE(holidays.locate("dia", QDate(2026, 1, 2)));

    ASSERT_EQ(prompter.calls.size(), 2u);
    for (const auto& call : prompter.calls) {
        EXPECT_EQ(call.text, "Tem certeza que deseja apagar registro atual?");
        EXPECT_EQ(call.buttons, Buttons::OkCancel);
    }
}

TEST_F(NavigatorTest, ButtonsFollowTheDatasetAndErrorsAreShown) {
    EXPECT_FALSE(nav.button(NavButton::First)->isEnabled());
    EXPECT_TRUE(nav.button(NavButton::Next)->isEnabled());
    EXPECT_FALSE(nav.button(NavButton::Post)->isEnabled());
    EXPECT_EQ(nav.button(NavButton::Insert)->toolTip(), "Inclui");

    nav.click(NavButton::Last);
    EXPECT_EQ(holidays.fieldByName("dia").asDate(), QDate(2026, 1, 3));
    nav.click(NavButton::Next);
    EXPECT_FALSE(nav.button(NavButton::Last)->isEnabled());

    nav.click(NavButton::Insert);
    EXPECT_TRUE(nav.button(NavButton::Post)->isEnabled());
    EXPECT_FALSE(nav.button(NavButton::Edit)->isEnabled());
    // "dia" is required: the engine's refusal is shown, the row stays in insert.
    holidays.fieldByName("descricao").setValue("Sem data");
    nav.click(NavButton::Post);
    EXPECT_EQ(holidays.state(), db::DataSetState::Insert);
    ASSERT_EQ(prompter.texts(ScriptedPrompter::Kind::Error).size(), 1);

    // A pending control text is written by post.
    DBEdit day;
    day.setEditMask("!99/99/0000;1;_");
    day.setDataSource(&ds);
    day.setDataField("dia");
    day.typeChar('2');
    day.typeChar('5');
    for (QChar c : QString("122026"))
        day.typeChar(c);
    nav.click(NavButton::Post);
    EXPECT_EQ(holidays.state(), db::DataSetState::Browse);
    EXPECT_EQ(holidays.fieldByName("dia").asDate(), QDate(2026, 12, 25));
    EXPECT_EQ(holidays.recordCount(), 4);

    // beforeAction may stop a click.
    nav.beforeAction = [](NavButton b) {
        if (b == NavButton::First)
            throw db::Abort();
    };
    nav.click(NavButton::First);
    EXPECT_EQ(holidays.fieldByName("dia").asDate(), QDate(2026, 12, 25));
}

// A half-typed date is the dataset's to store: "next" asks for it, the text
// does not convert, the operator is told and the row stays in edit where it
// was; once corrected, "next" stores it and moves on.
TEST_F(NavigatorTest, HalfTypedDateStopsNextWithTheControlsMessage) {
    DBEdit day;
    day.setEditMask("!90/90/0000;1;_");
    day.setDataSource(&ds);
    day.setDataField("dia");
    day.selectAll();
    QTest::keyClicks(&day, "150");
    ASSERT_EQ(holidays.state(), db::DataSetState::Edit);
    const QString halfTyped = day.text();

    nav.click(NavButton::Next);
    ASSERT_EQ(prompter.texts(ScriptedPrompter::Kind::Error).size(), 1);
    EXPECT_EQ(prompter.texts(ScriptedPrompter::Kind::Error).first(),
              QStringLiteral("'%1' não é uma data válida.").arg(halfTyped));
    EXPECT_EQ(holidays.state(), db::DataSetState::Edit);
    EXPECT_EQ(holidays.fieldByName("dia").asDate(), QDate(2026, 1, 1));
    EXPECT_EQ(day.text(), halfTyped);

    day.selectAll();
    QTest::keyClicks(&day, "31122025");
    nav.click(NavButton::Next);
    EXPECT_EQ(holidays.state(), db::DataSetState::Browse);
    EXPECT_EQ(holidays.fieldByName("dia").asDate(), QDate(2026, 1, 2));
    EXPECT_TRUE(holidays.locate("dia", QDate(2025, 12, 31)));
    EXPECT_EQ(prompter.texts(ScriptedPrompter::Kind::Error).size(), 1);
}
