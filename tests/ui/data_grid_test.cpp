#include "db/dataset.h"
#include "test_support.h"
#include "ui/data_grid.h"
#include "ui/prompter.h"

#include <gtest/gtest.h>

#include <QTest>

using namespace keldo;
using namespace keldo::ui;

namespace {

constexpr int kRows = 130;
constexpr int kFetch = 20;

QString mat(int i) {
    return QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'));
}

class DataGridTest : public ::testing::Test {
protected:
    keldo::testing::TestDatabase tdb;
    db::Table funcs;
    db::DataSource ds;
    ScriptedPrompter prompter;
    int scrolls = 0;

    void SetUp() override {
        funcs.setDatabase(&tdb.db());
        funcs.setTableName("funciona");
        funcs.open();
        for (int i = 0; i < kRows; ++i) {
            funcs.append();
            funcs.fieldByName("matricula").setValue(mat(i));
            funcs.fieldByName("nome").setValue(QStringLiteral("Nome %1").arg(i));
            funcs.post();
        }
        funcs.first();
        funcs.afterScroll = [this](db::DataSet&) { ++scrolls; };
        ds.setDataSet(&funcs);
    }
    QString current() { return funcs.fieldByName("matricula").asString(); }
};

} // namespace

TEST_F(DataGridTest, ReadsLazilyAndLeavesTheCursorWhereItWas) {
    DBGrid grid;
    grid.dataModel()->setFetchSize(kFetch);
    grid.setColumns({{"matricula", "Matrícula"}, {"nome"}});
    grid.setDataSource(&ds);
    DataSetModel& m = *grid.dataModel();

    EXPECT_EQ(m.rowCount(), kFetch + 1);
    EXPECT_EQ(m.headerData(0, Qt::Horizontal).toString(), "Matrícula");
    EXPECT_EQ(m.headerData(1, Qt::Horizontal).toString(), "nome");
    ASSERT_TRUE(m.canFetchMore({}));
    m.fetchMore({});
    EXPECT_EQ(m.rowCount(), 2 * kFetch + 1);
    EXPECT_EQ(m.data(m.index(2 * kFetch, 0)).toString(), mat(2 * kFetch));
    EXPECT_EQ(current(), mat(0));
    EXPECT_EQ(scrolls, 0); // reading is no scroll for the windows
    while (m.canFetchMore({}))
        m.fetchMore({});
    EXPECT_EQ(m.rowCount(), kRows);
    EXPECT_EQ(m.data(m.index(kRows - 1, 1)).toString(), QStringLiteral("Nome %1").arg(kRows - 1));
    EXPECT_EQ(current(), mat(0));
    EXPECT_EQ(grid.currentIndex().row(), 0);
}

TEST_F(DataGridTest, SelectedRowAndCurrentRowStayOne) {
    DBGrid grid;
    grid.dataModel()->setFetchSize(kFetch);
    grid.setDataSource(&ds);
    DataSetModel& m = *grid.dataModel();

    // Grid -> dataset.
    grid.setCurrentIndex(m.index(15, 1));
    EXPECT_EQ(current(), mat(15));
    EXPECT_EQ(m.currentRow(), 15);
    EXPECT_GT(scrolls, 0);

    // Dataset -> grid, inside and beyond what was read.
    funcs.next();
    EXPECT_EQ(grid.currentIndex().row(), 16);
    ASSERT_TRUE(funcs.locate("matricula", mat(90)));
    EXPECT_EQ(grid.currentIndex().row(), 90);
    EXPECT_EQ(m.data(m.index(90, 0)).toString(), mat(90));
    funcs.last();
    EXPECT_EQ(grid.currentIndex().row(), kRows - 1);
    EXPECT_FALSE(m.canFetchMore({}));

    // A deleted row leaves the grid; the selection goes where the cursor went.
    ASSERT_TRUE(funcs.locate("matricula", mat(50)));
    funcs.deleteRecord();
    EXPECT_EQ(m.data(m.index(50, 0)).toString(), mat(51));
    EXPECT_EQ(grid.currentIndex().row(), 50);
    EXPECT_EQ(current(), mat(51));
    EXPECT_TRUE(grid.selectionModel()->isRowSelected(50, {}));
}

TEST_F(DataGridTest, EditableGridEditsTheRowItMovesTo) {
    DBGrid grid;
    grid.dataModel()->setFetchSize(kFetch);
    grid.setColumns({{"matricula"}, {"nome"}, {"uf", "UF", 0, "", true}});
    grid.setEditable(true);
    grid.setDataSource(&ds);
    DataSetModel& m = *grid.dataModel();

    EXPECT_FALSE(m.flags(m.index(3, 2)) & Qt::ItemIsEditable);
    ASSERT_TRUE(m.setData(m.index(3, 1), "Renomeado"));
    EXPECT_EQ(current(), mat(3));
    EXPECT_EQ(funcs.state(), db::DataSetState::Edit);
    EXPECT_EQ(m.data(m.index(3, 1)).toString(), "Renomeado");

    // Moving on stores the edited row.
    grid.setCurrentIndex(m.index(4, 1));
    EXPECT_EQ(funcs.state(), db::DataSetState::Browse);
    EXPECT_EQ(current(), mat(4));
    ASSERT_TRUE(funcs.locate("matricula", mat(3)));
    EXPECT_EQ(funcs.fieldByName("nome").asString(), "Renomeado");

    // Enter stores the row; a refusal of the engine is shown and the row stays.
    ASSERT_TRUE(m.setData(m.index(4, 1), "Outro"));
    QTest::keyClick(&grid, Qt::Key_Return);
    EXPECT_EQ(funcs.state(), db::DataSetState::Browse);
    EXPECT_EQ(funcs.fieldByName("nome").asString(), "Outro");
    ASSERT_TRUE(m.setData(m.index(4, 0), mat(5))); // the key of another row
    EXPECT_FALSE(m.postRow());
    EXPECT_EQ(funcs.state(), db::DataSetState::Edit);
    EXPECT_EQ(prompter.texts(ScriptedPrompter::Kind::Error).size(), 1);
    funcs.cancel();
    prompter.calls.clear();

    // A row being inserted shows in the grid until it is stored.
    const int before = m.rowCount();
    funcs.insert();
    EXPECT_EQ(m.rowCount(), before + 1);
    funcs.fieldByName("matricula").setValue("9999");
    funcs.post();
    funcs.last();
    EXPECT_EQ(m.data(m.index(grid.currentIndex().row(), 0)).toString(), "9999");
    EXPECT_EQ(m.rowCount(), kRows + 1);
    EXPECT_TRUE(prompter.calls.empty());
}
