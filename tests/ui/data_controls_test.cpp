#include "db/dataset.h"
#include "test_support.h"
#include "ui/data_controls.h"
#include "ui/prompter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QRadioButton>
#include <QTest>

using namespace keldo;
using namespace keldo::ui;

namespace {

// Key presses carrying any text, accented letters included.
void type(QWidget* w, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
    }
}

class DataControlsTest : public ::testing::Test {
protected:
    keldo::testing::TestDatabase tdb;
    db::Table bands;
    db::DataSource dsBands;
    ScriptedPrompter prompter;

    void SetUp() override {
        bands.setDatabase(&tdb.db());
        bands.setTableName("faixa");
        bands.open();
        dsBands.setDataSet(&bands);
    }
    void addBand(const QString& code, const QVariant& domingo) {
        bands.append();
        bands.fieldByName("Cod_faixa").setValue(code);
        bands.fieldByName("Domingo").setValue(domingo);
        bands.post();
    }
};

} // namespace

// The permission-flag rule, both ways: 0 shows checked, -1 and empty show
// unchecked; checking writes 0, unchecking writes -1.
TEST_F(DataControlsTest, CheckBoxFollowsThePermissionFlagRule) {
    addBand("001", 0);
    addBand("002", -1);
    addBand("003", QVariant());
    DBCheckBox box("Domingo");
    box.setDataSource(&dsBands);
    box.setDataField("Domingo");

    struct Case {
        QString code;
        bool shownChecked;
        int afterClick;
    };
    const Case cases[] = {{"001", true, -1}, {"002", false, 0}, {"003", false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code.toStdString());
        ASSERT_TRUE(bands.locate("Cod_faixa", c.code));
        EXPECT_EQ(box.isChecked(), c.shownChecked);
        box.click();
        EXPECT_EQ(bands.state(), db::DataSetState::Edit);
        bands.post();
        EXPECT_FALSE(bands.fieldByName("Domingo").isNull());
        EXPECT_EQ(bands.fieldByName("Domingo").asInteger(), c.afterClick);
        EXPECT_EQ(box.isChecked(), !c.shownChecked);
    }
    // Read as a number, an empty flag is granted.
    addBand("004", QVariant());
    EXPECT_EQ(bands.fieldByName("Domingo").asInteger(), 0);
}

TEST_F(DataControlsTest, EditEntersEditModeAndStoresTimesAsHourMinute) {
    addBand("001", 0);
    DBEdit desc, start;
    desc.setDataSource(&dsBands);
    desc.setDataField("Descricao");
    desc.setUpperCase(true);
    start.setDataSource(&dsBands);
    start.setDataField("Horaini");
    start.setEditMask("!90:00;1;_");
    EXPECT_EQ(desc.maxLength(), 30);
    EXPECT_EQ(start.text(), "  :  ");

    type(&desc, "manhã");
    EXPECT_EQ(bands.state(), db::DataSetState::Edit);
    EXPECT_EQ(desc.QLineEdit::text(), "MANHÃ");
    start.selectAll();
    QTest::keyClicks(&start, "7:3"); // half-typed: not a time yet
    EXPECT_TRUE(start.link().pending());
    // The dataset asks the control before it posts: the half-typed time
    // stops the post and the row stays in edit.
    EXPECT_THROW(bands.post(), db::DbError);
    EXPECT_EQ(bands.state(), db::DataSetState::Edit);
    QTest::keyClicks(&start, "0");
    bands.post();
    EXPECT_EQ(bands.fieldByName("Descricao").asString(), "MANHÃ");
    EXPECT_EQ(bands.fieldByName("Horaini").asString(), "07:30");

    // Scrolling shows the other row; cancelling brings back the stored text.
    addBand("002", 0);
    EXPECT_EQ(desc.QLineEdit::text(), "");
    bands.first();
    EXPECT_EQ(start.text(), "07:30");
    QTest::keyClicks(&desc, "X");
    bands.cancel();
    EXPECT_EQ(desc.QLineEdit::text(), "MANHÃ");
    EXPECT_TRUE(prompter.calls.empty());
}

TEST_F(DataControlsTest, ControlsOfAReadOnlyDatasetRefuseChanges) {
    addBand("001", 0);
    bands.setReadOnly(true);
    DBEdit desc;
    desc.setDataSource(&dsBands);
    desc.setDataField("Descricao");
    QTest::keyClicks(&desc, "abc");
    EXPECT_EQ(bands.state(), db::DataSetState::Browse);
    EXPECT_EQ(desc.QLineEdit::text(), "");
}

// The lookup list shows company names and stores the chosen company's code.
TEST(DataLookup, ShowsOneFieldAndStoresTheOther) {
    keldo::testing::TestDatabase tdb;
    db::Table companies, funcs;
    companies.setDatabase(&tdb.db());
    companies.setTableName("empresa");
    companies.open();
    for (auto [code, name] : {std::pair{7, "Beta"}, std::pair{3, "Alfa"}, std::pair{9, "Gama"}}) {
        companies.append();
        companies.fieldByName("codigo").setValue(code);
        companies.fieldByName("nome").setValue(QString::fromUtf8(name));
        companies.post();
    }
    companies.locate("codigo", 9);
    funcs.setDatabase(&tdb.db());
    funcs.setTableName("funciona");
    funcs.open();
    funcs.append();
    funcs.fieldByName("matricula").setValue("100");
    funcs.fieldByName("empresa").setValue(7);
    funcs.post();

    db::DataSource dsCompanies, dsFuncs;
    dsCompanies.setDataSet(&companies);
    dsFuncs.setDataSet(&funcs);
    DBLookupComboBox combo;
    combo.setListSource(&dsCompanies);
    combo.setKeyField("codigo");
    combo.setListField("nome");
    combo.setDataSource(&dsFuncs);
    combo.setDataField("empresa");

    ASSERT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.itemText(0), "Alfa"); // in the list dataset's order (by code)
    EXPECT_EQ(combo.currentText(), "Beta");
    EXPECT_EQ(companies.fieldByName("codigo").asInteger(), 9); // the list cursor stayed

    combo.setCurrentIndex(combo.findText("Gama"));
    emit combo.activated(combo.currentIndex());
    EXPECT_EQ(funcs.state(), db::DataSetState::Edit);
    funcs.post();
    EXPECT_EQ(funcs.fieldByName("empresa").asInteger(), 9);

    // A code that is not in the list shows nothing.
    funcs.edit();
    funcs.fieldByName("empresa").setValue(42);
    EXPECT_EQ(combo.currentIndex(), -1);
    funcs.cancel();
    EXPECT_EQ(combo.currentText(), "Gama");
}

// Each item stands for a value: the stored value checks its item, any other
// value checks none; clicking an item edits the row and stores its value,
// clicking the item already stored leaves the row alone.
TEST(DataRadioGroup, ShowsAndStoresTheValueOfItsItems) {
    keldo::testing::TestDatabase tdb;
    db::Table layout;
    layout.setDatabase(&tdb.db());
    layout.setTableName("layoutar");
    layout.open();
    db::DataSource ds;
    ds.setDataSet(&layout);
    DBRadioGroup rg("Alinhamento");
    rg.setObjectName("rgAlinhamento");
    rg.addItem("Direita", "D");
    rg.addItem("Esquerda", "E");
    rg.setDataSource(&ds);
    rg.setDataField("Matri_align");
    EXPECT_EQ(rg.button(1)->objectName(), "rgAlinhamento_1");

    const struct {
        QVariant stored;
        int shown;
    } cases[] = {{"D", 0}, {"E", 1}, {"x", -1}, {QVariant(), -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.toString().toStdString());
        tdb->exec("UPDATE layoutar SET Matri_align = ?", {c.stored});
        layout.refresh();
        EXPECT_EQ(rg.itemIndex(), c.shown);
        EXPECT_EQ(rg.value(), c.shown < 0 ? QVariant() : QVariant(c.shown ? "E" : "D"));
    }

    tdb->exec("UPDATE layoutar SET Matri_align = 'D'");
    layout.refresh();
    rg.button(0)->click();
    EXPECT_EQ(layout.state(), db::DataSetState::Browse);
    rg.button(1)->click();
    EXPECT_EQ(layout.state(), db::DataSetState::Edit);
    layout.post();
    EXPECT_EQ(tdb->scalar("SELECT Matri_align FROM layoutar").toString(), "E");
    rg.button(0)->click();
    layout.cancel();
    EXPECT_EQ(rg.itemIndex(), 1);
}

// A list over 50,000 employees shows the stored one without reading the list:
// a count, the stored row and its place, and the page it is on.
TEST(DataLookupList, OpensOverManyRowsReadingOnlyAroundTheStoredOne) {
    constexpr int kEmployees = 50000;
    keldo::testing::TestDatabase tdb;
    tdb->exec(QStringLiteral("INSERT INTO funciona (matricula, nome, codigo) WITH RECURSIVE "
                             "s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < %1) "
                             "SELECT CAST(i AS VARCHAR(20)), 'Colaborador ' || CAST(i AS "
                             "VARCHAR(20)), CAST(i AS VARCHAR(20)) FROM s")
                  .arg(kEmployees));
    tdb->exec("INSERT INTO grupof (matricula, faixa) VALUES ('49999', '001')");
    db::Table funcs, groups;
    funcs.setDatabase(&tdb.db());
    funcs.setTableName("funciona");
    funcs.setIndexFieldNames("matricula");
    funcs.open();
    groups.setDatabase(&tdb.db());
    groups.setTableName("grupof");
    groups.open();
    db::DataSource dsFuncs, dsGroups;
    dsFuncs.setDataSet(&funcs);
    dsGroups.setDataSet(&groups);
    ScriptedPrompter prompter;

    const quint64 before = tdb->rowsRead();
    DBLookupComboBox combo;
    combo.setListSource(&dsFuncs);
    combo.setKeyField("matricula");
    combo.setListField("nome");
    combo.setDataSource(&dsGroups);
    combo.setDataField("matricula");
    combo.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(combo.count(), kEmployees);
    EXPECT_EQ(combo.currentText(), "Colaborador 49999");
    EXPECT_EQ(combo.keyAt(combo.currentIndex()).toString(), "49999");
    EXPECT_LT(tdb->rowsRead() - before, 200u);
    EXPECT_EQ(funcs.fieldByName("matricula").asString(), "1"); // the list cursor stayed

    // Choosing another row stores its key.
    emit combo.activated(3);
    EXPECT_EQ(groups.state(), db::DataSetState::Edit);
    EXPECT_EQ(groups.fieldByName("matricula").asString(), combo.keyAt(3).toString());
    groups.cancel();
    EXPECT_TRUE(prompter.calls.empty());
}
