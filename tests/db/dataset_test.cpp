#include "db/dataset.h"
#include "db/schema.h"
#include "test_support.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace keldo::db;
using keldo::testing::TestDatabase;

namespace {

void addEmployee(Table& t, const QString& mat, const QString& nome, const QString& codigo = {}) {
    t.append();
    t.fieldByName("matricula").setValue(mat);
    t.fieldByName("nome").setValue(nome);
    t.fieldByName("codigo").setValue(codigo.isEmpty() ? mat : codigo);
    t.post();
}

QStringList walk(DataSet& ds, const QString& field) {
    QStringList out;
    for (ds.first(); !ds.eof(); ds.next())
        out << ds.fieldByName(field).asString();
    return out;
}

QStringList walkBack(DataSet& ds, const QString& field) {
    QStringList out;
    for (ds.last(); !ds.bof(); ds.prior())
        out << ds.fieldByName(field).asString();
    return out;
}

class DataSetTest : public ::testing::Test {
protected:
    TestDatabase tdb;
    Table funcs;
    void SetUp() override {
        funcs.setObjectName("tbFuncs");
        funcs.setDatabase(&tdb.db());
        funcs.setTableName("funciona");
        funcs.open();
    }
};

TEST_F(DataSetTest, NameOrderIgnoresCaseAndAccentsBothWays) {
    funcs.setIndexFieldNames("nome");
    addEmployee(funcs, "3", "Bruno");
    addEmployee(funcs, "1", "álvaro");
    addEmployee(funcs, "2", "Alvaro");
    addEmployee(funcs, "4", "ÉDSON");
    addEmployee(funcs, "5", "carla");
    QStringList names = walk(funcs, "nome");
    ASSERT_EQ(names.size(), 5);
    EXPECT_TRUE(QSet<QString>({names[0], names[1]}) == QSet<QString>({"álvaro", "Alvaro"}));
    EXPECT_EQ(names.mid(2), QStringList({"Bruno", "carla", "ÉDSON"}));
    QStringList back = walkBack(funcs, "nome");
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, names);
}

TEST_F(DataSetTest, CursorWalksPastItsPageAndSeesRowsOfOtherPrograms) {
    funcs.setIndexFieldNames("matricula");
    for (int i = 0; i < 130; ++i)
        addEmployee(funcs, QString::asprintf("%03d", i), QString("Nome %1").arg(i));
    QStringList all = walk(funcs, "matricula");
    ASSERT_EQ(all.size(), 130);
    EXPECT_EQ(all.first(), "000");
    EXPECT_EQ(all.last(), "129");
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
    EXPECT_EQ(walkBack(funcs, "matricula").size(), 130);

    // Another connection appends while the cursor stands in the middle.
    funcs.first();
    funcs.moveBy(60);
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "060");
    auto other = tdb.connectAgain();
    other->exec("INSERT INTO funciona (matricula, nome, codigo) VALUES ('999', 'Z', '999')");
    QString lastSeen;
    while (!funcs.eof()) {
        lastSeen = funcs.fieldByName("matricula").asString();
        funcs.next();
    }
    EXPECT_EQ(lastSeen, "999");
    EXPECT_EQ(funcs.recordCount(), 131);
}

TEST_F(DataSetTest, EofAndBofFollowTheEnds) {
    EXPECT_TRUE(funcs.isEmpty());
    EXPECT_TRUE(funcs.eof());
    EXPECT_TRUE(funcs.bof());
    EXPECT_TRUE(funcs.fieldByName("nome").isNull());
    EXPECT_EQ(funcs.fieldByName("empresa").asInteger(), 0);
    addEmployee(funcs, "1", "A");
    addEmployee(funcs, "2", "B");
    funcs.setIndexFieldNames("matricula");
    funcs.first();
    EXPECT_TRUE(funcs.bof());
    EXPECT_FALSE(funcs.eof());
    funcs.next();
    EXPECT_FALSE(funcs.eof());
    funcs.next(); // past the last row: eof, the last row stays current
    EXPECT_TRUE(funcs.eof());
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "2");
    funcs.prior();
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "1");
    funcs.prior();
    EXPECT_TRUE(funcs.bof());
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "1");
}

TEST_F(DataSetTest, CurrentRowAndOrderAreSharedThroughTheComponent) {
    addEmployee(funcs, "20", "Ana");
    addEmployee(funcs, "10", "Carlos");
    addEmployee(funcs, "30", "Bia");
    // One window orders and moves...
    funcs.setIndexFieldNames("nome");
    ASSERT_TRUE(funcs.findKey({"bia"})); // the name index finds without case
    // ...another window sees the same row, and a new order keeps it current.
    Table* seenByOtherWindow = &funcs;
    EXPECT_EQ(seenByOtherWindow->fieldByName("matricula").asString(), "30");
    seenByOtherWindow->setIndexFieldNames("matricula");
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "30");
    funcs.next();
    EXPECT_TRUE(funcs.eof());
    funcs.prior();
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "20");
}

TEST_F(DataSetTest, FindKeyAndFindNearest) {
    funcs.setIndexFieldNames("nome");
    addEmployee(funcs, "1", "Alvaro");
    addEmployee(funcs, "2", "Bruno");
    addEmployee(funcs, "3", "Carla");
    funcs.findNearest({"br"});
    EXPECT_EQ(funcs.fieldByName("nome").asString(), "Bruno");
    funcs.findNearest({"BS"});
    EXPECT_EQ(funcs.fieldByName("nome").asString(), "Carla");
    funcs.findNearest({"zz"}); // nothing at or after: the last row
    EXPECT_EQ(funcs.fieldByName("nome").asString(), "Carla");
    EXPECT_FALSE(funcs.findKey({"Bru"}));
    EXPECT_EQ(funcs.fieldByName("nome").asString(), "Carla"); // stayed put
    funcs.setIndexFieldNames("matricula");
    EXPECT_TRUE(funcs.findKey({"2"}));
    EXPECT_EQ(funcs.fieldByName("nome").asString(), "Bruno");
    EXPECT_TRUE(funcs.locate("nome", "alv", {true, true}));
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "1");
    EXPECT_FALSE(funcs.locate("nome", "Nobody"));
}

TEST_F(DataSetTest, CheckBrowseModeStoresChangedRowsAndDropsUntouchedOnes) {
    addEmployee(funcs, "1", "Ana");
    funcs.edit();
    funcs.fieldByName("nome").setValue("Ana Maria");
    funcs.first(); // moving stores the change
    EXPECT_EQ(funcs.state(), DataSetState::Browse);
    EXPECT_EQ(tdb->scalar("SELECT nome FROM funciona").toString(), "Ana Maria");

    funcs.insert(); // an untouched new row is dropped
    funcs.checkBrowseMode();
    EXPECT_EQ(funcs.state(), DataSetState::Browse);
    EXPECT_EQ(funcs.recordCount(), 1);
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "1");

    funcs.insert();
    funcs.fieldByName("matricula").setValue("2");
    funcs.fieldByName("nome").setValue("Bia");
    funcs.fieldByName("codigo").setValue("2");
    funcs.checkBrowseMode();
    EXPECT_EQ(funcs.recordCount(), 2);
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "2");

    funcs.edit();
    funcs.fieldByName("nome").setValue("Outra");
    funcs.cancel();
    EXPECT_EQ(funcs.fieldByName("nome").asString(), "Bia");
}

TEST_F(DataSetTest, KeyViolationSaysSoAndLeavesTheRowInInsert) {
    addEmployee(funcs, "1", "Ana");
    funcs.insert();
    funcs.fieldByName("matricula").setValue("1");
    funcs.fieldByName("nome").setValue("Outra");
    try {
        funcs.post();
        FAIL() << "a duplicate key was stored";
    } catch (const DbError& e) {
        EXPECT_TRUE(e.isKeyViolation());
        EXPECT_TRUE(e.text().startsWith(
            QString::fromUtf8("Violação de chave: já existe um registro com essa chave.")));
    }
    EXPECT_EQ(funcs.state(), DataSetState::Insert);
    EXPECT_EQ(funcs.fieldByName("nome").asString(), "Outra");
    funcs.cancel();
    EXPECT_EQ(funcs.recordCount(), 1);
}

TEST_F(DataSetTest, EventsRunInOrderAndBeforeHandlersCanAbandon) {
    QStringList log;
    funcs.afterInsert = [&](DataSet& ds) {
        log << "afterInsert";
        ds.fieldByName("acesso").setValue(0);
    };
    funcs.beforePost = [&](DataSet& ds) {
        log << "beforePost";
        if (ds.fieldByName("nome").asString().isEmpty())
            throw Abort();
    };
    funcs.beforeDelete = [&](DataSet&) { log << "beforeDelete"; };
    DataSource ds;
    ds.setDataSet(&funcs);
    QList<int> changes;
    ds.onDataChange = [&](DataSource&, int f) { changes << f; };

    funcs.insert();
    EXPECT_TRUE(funcs.fieldByName("acesso").value() == QVariant(0));
    funcs.fieldByName("matricula").setValue("7");
    funcs.fieldByName("codigo").setValue("7");
    EXPECT_THROW(funcs.post(), Abort);
    EXPECT_EQ(funcs.state(), DataSetState::Insert);
    funcs.fieldByName("nome").setValue("Sete");
    funcs.post();
    funcs.deleteRecord();
    EXPECT_EQ(log, QStringList({"afterInsert", "beforePost", "beforePost", "beforeDelete"}));
    EXPECT_TRUE(funcs.isEmpty());
    EXPECT_TRUE(changes.contains(funcs.fieldIndex("nome")));
    EXPECT_TRUE(changes.contains(-1));
}

TEST_F(DataSetTest, WidthsCutTextAndEmptyTextIsEmpty) {
    Table faixa;
    faixa.setDatabase(&tdb.db());
    faixa.setTableName("faixa");
    faixa.open();
    faixa.append();
    faixa.fieldByName("Cod_faixa").setValue("0071");
    faixa.fieldByName("Descricao").setValue(QString(40, 'X'));
    faixa.fieldByName("Horaini").setValue("");
    faixa.post();
    EXPECT_EQ(faixa.fieldByName("Cod_faixa").asString(), "007");
    EXPECT_EQ(faixa.fieldByName("Descricao").asString().size(), 30);
    EXPECT_TRUE(faixa.fieldByName("Horaini").value().isNull());
    EXPECT_EQ(faixa.fieldByName("Domingo").asInteger(), 0);
    faixa.edit();
    EXPECT_THROW(faixa.fieldByName("Domingo").setValue("abc"), DbError);
}

TEST_F(DataSetTest, DeletingMovesToTheNextRowOrTheLast) {
    funcs.setIndexFieldNames("matricula");
    for (const char* m : {"1", "2", "3"})
        addEmployee(funcs, m, m);
    ASSERT_TRUE(funcs.findKey({"2"}));
    funcs.deleteRecord();
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "3");
    funcs.deleteRecord();
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "1");
    funcs.deleteRecord();
    EXPECT_TRUE(funcs.isEmpty());
    EXPECT_TRUE(funcs.eof());
}

TEST_F(DataSetTest, DatesAndTimesRoundTrip) {
    Table reg;
    reg.setDatabase(&tdb.db());
    reg.setTableName("registro");
    reg.open();
    reg.append();
    reg.fieldByName("matricula").setValue("1");
    reg.fieldByName("data").setValue(QDate(2026, 3, 5));
    reg.fieldByName("hora").setValue("08:07");
    reg.post();
    EXPECT_EQ(reg.fieldByName("data").asDate(), QDate(2026, 3, 5));
    EXPECT_EQ(reg.fieldByName("data").asString(), "05/03/2026");
    EXPECT_EQ(reg.fieldByName("hora").asString(), "08:07:00");
    Table an;
    an.setDatabase(&tdb.db());
    an.setTableName("anormal");
    an.open();
    an.append();
    an.fieldByName("contador").setValue(1);
    an.fieldByName("datahora").setValue(QDateTime(QDate(2026, 1, 2), QTime(23, 59, 58)));
    an.post();
    an.refresh();
    EXPECT_EQ(an.fieldByName("datahora").asDateTime(),
              QDateTime(QDate(2026, 1, 2), QTime(23, 59, 58)));
    // Comparisons and between work on the stored form.
    EXPECT_EQ(tdb->scalar("SELECT count(*) FROM registro WHERE data BETWEEN ? AND ?",
                          {QDate(2026, 3, 5), QDate(2026, 3, 5)})
                  .toInt(),
              1);
}

TEST_F(DataSetTest, QueryTakesParametersFromItsMasterAndFollowsIt) {
    funcs.setIndexFieldNames("matricula");
    addEmployee(funcs, "1", "Ana");
    addEmployee(funcs, "2", "Bia");
    tdb->exec("INSERT INTO registro (matricula, data, hora) VALUES "
              "('1', '2026-03-05', '08:00:00'), ('1', '2026-03-05', '12:00:00'), "
              "('2', '2026-03-05', '09:00:00'), ('1', '2026-03-06', '08:00:00')");
    DataSource dsFuncs;
    dsFuncs.setDataSet(&funcs);
    Query pontos;
    pontos.setDatabase(&tdb.db());
    pontos.setSql(QStringList{"Select * from registro where",
                              ":MATRICULA = matricula and data = "
                              ":diaponto",
                              "order by hora"});
    pontos.setMasterSource(&dsFuncs);
    pontos.setParam("DiaPonto", QDate(2026, 3, 5));
    ASSERT_EQ(pontos.params().size(), 2);
    funcs.first();
    pontos.open();
    EXPECT_EQ(walk(pontos, "hora"), QStringList({"08:00:00", "12:00:00"}));
    EXPECT_EQ(pontos.fieldByName("data").asDate(), QDate(2026, 3, 5));
    funcs.next(); // the detail follows the master's row
    EXPECT_EQ(walk(pontos, "hora"), QStringList({"09:00:00"}));
    EXPECT_THROW(pontos.edit(), DbError);
    EXPECT_THROW(pontos.paramByName("nada"), DbError);

    Query apaga;
    apaga.setDatabase(&tdb.db());
    apaga.setSql("Delete from registro Where ((matricula = :MAT) and (data between :dini and "
                 ":dfim))");
    apaga.setParam("MAT", "1");
    apaga.setParam("DINI", QDate(2026, 3, 5));
    apaga.setParam("DFIM", QDate(2026, 3, 6));
    EXPECT_EQ(apaga.execSql(), 3);
}

TEST(ParamParser, SkipsQuotedTextCastsAndComments) {
    QStringList names;
    QString sql = parseParams("select ':x', \"a:b\", c::text -- :no\n from t where a = :A1 and "
                              "b = :b_2 and t = '10:30'",
                              &names);
    EXPECT_EQ(names, QStringList({"A1", "b_2"}));
    EXPECT_EQ(sql, "select ':x', \"a:b\", c::text -- :no\n from t where a = ? and b = ? and t = "
                   "'10:30'");
}

TEST_F(DataSetTest, UnidirectionalQueryStreamsAndRefusesToGoBack) {
    for (int i = 0; i < 5; ++i)
        addEmployee(funcs, QString::number(i), "N");
    Query q;
    q.setDatabase(&tdb.db());
    q.setUnidirectional(true);
    q.setSql("select matricula from funciona order by matricula");
    q.open();
    EXPECT_EQ(walk(q, "matricula"), QStringList({"0", "1", "2", "3", "4"}));
    EXPECT_THROW(q.first(), DbError);
}

} // namespace

// Rows whose first order field is empty lie at one end of the order (the
// start on SQLite, the end on PostgreSQL); walking and side reads cross them
// from a row holding a value, both ways, with the cache of the cursor's page
// and without it.
TEST(DataSetOrder, EmptyLeadingValuesAreWalkedAndReadAroundOnEitherEngine) {
    TestDatabase tdb;
    Table t;
    t.setDatabase(&tdb.db());
    t.setTableName("ordem");
    t.createTable({{"k", FieldType::String, 5}, {"n", FieldType::Integer}});
    for (int i = 0; i < 120; ++i)
        tdb->exec(
            "INSERT INTO ordem (k, n) VALUES (?, ?)",
            {i % 3 == 0 ? QVariant() : QVariant(QStringLiteral("k%1").arg(i, 3, 10, QChar('0'))),
             i});
    t.setIndexFieldNames("k");
    t.open();
    const QStringList forward = walk(t, "n");
    ASSERT_EQ(forward.size(), 120);
    QStringList back = walkBack(t, "n");
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, forward);

    // From every 7th row, the side cursor gives the rows the walk gives.
    SideCursor side(t);
    t.first();
    for (int at = 0; at < 120; ++at, t.next()) {
        if (at % 7)
            continue;
        SCOPED_TRACE(at);
        const Row here = t.currentRow();
        QStringList after, before;
        for (const Row& r : side.after(here, 60))
            after << r.values[1].toString();
        for (const Row& r : side.before(here, 60))
            before << r.values[1].toString();
        EXPECT_EQ(after, forward.mid(at + 1, 60));
        EXPECT_EQ(before, forward.mid(std::max(0, at - 60), std::min(at, 60)));
        EXPECT_EQ(side.position(here), at);
    }
    QStringList firstRows, lastRows;
    for (const Row& r : side.first(5))
        firstRows << r.values[1].toString();
    for (const Row& r : side.last(5))
        lastRows << r.values[1].toString();
    EXPECT_EQ(firstRows, forward.mid(0, 5));
    EXPECT_EQ(lastRows, forward.mid(115));
}

// A query streamed one way hands each row with its fields typed, keeps none,
// and stops when told; the parameters are bound as for open().
TEST(QueryStream, ForEachRowHandsTypedRowsAndStopsWhenTold) {
    TestDatabase tdb;
    tdb->exec("INSERT INTO registro (matricula, data, hora) VALUES "
              "('1', '2026-03-05', '08:00:00'), ('1', '2026-03-05', '12:00:00'), "
              "('2', '2026-03-05', '09:00:00'), ('1', '2026-03-06', '08:00:00')");
    Query q;
    q.setDatabase(&tdb.db());
    q.setSql("select data, hora from registro where matricula = :mat order by data, hora");
    q.setParam("mat", "1");
    QList<QTime> times;
    EXPECT_EQ(q.forEachRow([&](const Row& r) {
        EXPECT_EQ(r.values[0].typeId(), QMetaType::QDate);
        times << r.values[1].toTime();
        return true;
    }),
              3);
    EXPECT_EQ(times, QList<QTime>({QTime(8, 0), QTime(12, 0), QTime(8, 0)}));
    EXPECT_FALSE(q.isActive());
    EXPECT_EQ(q.forEachRow([](const Row&) { return false; }), 1);
}
