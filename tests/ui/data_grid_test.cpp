#include "db/dataset.h"
#include "test_support.h"
#include "ui/data_grid.h"
#include "ui/prompter.h"

#include <gtest/gtest.h>

#include <QTest>
#include <functional>

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

// The model's rows are a window: a model row's matricula says where it is.
int shown(DataSetModel& m, int row) {
    return m.data(m.index(row, 0)).toString().toInt();
}

TEST_F(DataGridTest, ReadsAroundTheCursorAndLeavesItWhereItWas) {
    DBGrid grid;
    grid.dataModel()->setFetchSize(kFetch);
    grid.setColumns({{"matricula", "Matrícula"}, {"nome"}});
    grid.setDataSource(&ds);
    DataSetModel& m = *grid.dataModel();

    EXPECT_EQ(m.rowCount(), kFetch + 1);
    EXPECT_TRUE(m.atStart());
    EXPECT_FALSE(m.canFetchBefore());
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
    auto agree = [&](int matricula) {
        EXPECT_EQ(current(), mat(matricula));
        EXPECT_EQ(grid.currentIndex().row(), m.currentRow());
        EXPECT_EQ(shown(m, m.currentRow()), matricula);
        EXPECT_TRUE(grid.selectionModel()->isRowSelected(m.currentRow(), {}));
    };

    // Grid -> dataset.
    grid.setCurrentIndex(m.index(15, 1));
    agree(15);
    EXPECT_GT(scrolls, 0);

    // Dataset -> grid, inside the window, one step past its edge, and a
    // jump beyond it, which reads around the new row.
    funcs.next();
    agree(16);
    ASSERT_TRUE(funcs.locate("matricula", mat(kFetch)));
    for (int i = 0; i < 3; ++i)
        funcs.next();
    agree(kFetch + 3);
    EXPECT_EQ(shown(m, 0), 0); // the window grew, it did not jump
    ASSERT_TRUE(funcs.locate("matricula", mat(90)));
    agree(90);
    EXPECT_EQ(shown(m, 0), 90 - kFetch);
    EXPECT_FALSE(m.atStart());

    // Scrolling to the top reads the page above; the same rows stay in view.
    ASSERT_TRUE(m.canFetchBefore());
    m.fetchBefore();
    agree(90);
    EXPECT_EQ(shown(m, 0), 90 - 2 * kFetch);

    funcs.last();
    agree(kRows - 1);
    EXPECT_FALSE(m.canFetchMore({}));
    EXPECT_TRUE(m.atEnd());
    funcs.first();
    agree(0);

    // A deleted row leaves the grid; the selection goes where the cursor went.
    ASSERT_TRUE(funcs.locate("matricula", mat(50)));
    funcs.deleteRecord();
    agree(51);
}

// 200,000 rows: each jump reads around its row, a few pages of visible rows
// counted with the cursor's own reading, never from the first row.
TEST(DataGridWindow, JumpsOnALargeTableReadAFewPages) {
    constexpr int kBig = 200000;
    keldo::testing::TestDatabase tdb;
    db::Table big;
    big.setDatabase(&tdb.db());
    big.setTableName("grande");
    big.createTable({{"n", db::FieldType::Integer}, {"txt", db::FieldType::String, 20}}, {"n"});
    tdb->exec(QStringLiteral("INSERT INTO grande (n, txt) WITH RECURSIVE s(i) AS (SELECT 1 UNION "
                             "ALL SELECT i + 1 FROM s WHERE i < %1) SELECT i, 'linha ' || i FROM s")
                  .arg(kBig));
    big.open();
    db::DataSource src;
    src.setDataSet(&big);
    ScriptedPrompter prompter;

    DBGrid grid;
    grid.resize(500, 420);
    grid.show();
    grid.setDataSource(&src);
    DataSetModel& m = *grid.dataModel();
    const int page = m.fetchSize();
    ASSERT_GE(page, 16);

    const struct {
        const char* what;
        std::function<void()> move;
        int n;
    } jumps[] = {
        {"last", [&] { big.last(); }, kBig},
        {"find near the end", [&] { ASSERT_TRUE(big.findKey({kBig - 7})); }, kBig - 7},
        {"locate in the middle", [&] { ASSERT_TRUE(big.locate("n", kBig / 2)); }, kBig / 2},
        {"first", [&] { big.first(); }, 1},
    };
    for (const auto& j : jumps) {
        SCOPED_TRACE(j.what);
        const quint64 before = tdb->rowsRead();
        j.move();
        QCoreApplication::processEvents();
        const quint64 read = tdb->rowsRead() - before;
        EXPECT_LE(read, quint64(3 * page));
        EXPECT_EQ(big.fieldByName("n").asInteger(), j.n);
        EXPECT_EQ(grid.currentIndex().row(), m.currentRow());
        EXPECT_EQ(m.data(m.index(m.currentRow(), 0)).toInt(), j.n);
        EXPECT_LE(m.rowCount(), 2 * page + 1);
    }
    EXPECT_TRUE(prompter.calls.empty());
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
    EXPECT_TRUE(m.atEnd());
    EXPECT_TRUE(prompter.calls.empty());
}
