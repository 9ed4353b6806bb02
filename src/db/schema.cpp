#include "schema.h"

#include "database.h"

namespace keldo::db {
namespace {

FieldDef str(const char* name, int size, bool required = false) {
    return {QString::fromLatin1(name), FieldType::String, size, required};
}
FieldDef typed(const char* name, FieldType type, bool required = false) {
    return {QString::fromLatin1(name), type, 0, required};
}
FieldDef flag(const char* name) {
    return typed(name, FieldType::SmallInt);
}

// Widths the product leaves open are chosen to hold what the export and
// import formats carry (matricula and code 20, name 70).
QList<TableDef> buildTables() {
    QList<TableDef> t;
    t << TableDef{QStringLiteral("funciona"),
                  {str("matricula", 20, true), str("nome", 70), str("endereco", 60),
                   str("cidade", 40), str("uf", 2), str("telefone", 20),
                   typed("empresa", FieldType::Integer), str("codigo", 20), str("obs", 255),
                   str("imagem", 255), flag("acesso"), flag("Usadigital")},
                  {QStringLiteral("matricula")},
                  {{QStringLiteral("IDX_CODIGO"), {QStringLiteral("codigo")}, true},
                   {QStringLiteral("IDX_NOME"), {QStringLiteral("nome")}, true}}};
    t << TableDef{QStringLiteral("empresa"),
                  {typed("codigo", FieldType::Integer, true), str("nome", 60), str("Cgc", 20),
                   str("Endereco", 60), str("Cidade", 40)},
                  {QStringLiteral("codigo")},
                  {{QStringLiteral("IDX_NOME"), {QStringLiteral("nome")}, true}}};
    t << TableDef{QStringLiteral("faixa"),
                  {str("Cod_faixa", 3, true), str("Descricao", 30), str("Horaini", 5),
                   str("Horafim", 5), flag("Domingo"), flag("Segunda"), flag("Terca"),
                   flag("Quarta"), flag("Quinta"), flag("Sexta"), flag("Sabado"), flag("Feriado")},
                  {QStringLiteral("Cod_faixa")},
                  {}};
    t << TableDef{QStringLiteral("grupof"),
                  {str("matricula", 20, true), str("faixa", 3, true)},
                  {QStringLiteral("matricula"), QStringLiteral("faixa")},
                  {}};
    t << TableDef{QStringLiteral("feriados"),
                  {typed("dia", FieldType::Date, true), str("descricao", 20)},
                  {QStringLiteral("dia")},
                  {}};
    t << TableDef{QStringLiteral("mens"),
                  {typed("data", FieldType::Date, true), str("matricula", 20, true),
                   typed("Observacao", FieldType::Memo)},
                  {QStringLiteral("data"), QStringLiteral("matricula")},
                  {}};
    TableDef permisso{QStringLiteral("permisso"),
                      {str("Login", 10), str("Senha", 10)},
                      {QStringLiteral("Login"), QStringLiteral("Senha")},
                      {}};
    for (const char* f : {"Sistema",
                          "Exportarpontos",
                          "Exclusaodemovimentos",
                          "Senhadeacesso",
                          "Cadastro",
                          "Empresa",
                          "Funcionarios",
                          "Feriados",
                          "Faixasdehorarios",
                          "Associacaodefaixas",
                          "Mensagensparafuncionarios",
                          "Configuracoes",
                          "Formatoexportacao",
                          "Configuracoesgerais",
                          "Relogiodetemporeal",
                          "Relatorios",
                          "RelFuncionarios",
                          "RelBatidas",
                          "RelAnormalidades",
                          "ManutencaodePontos",
                          "ModuloColeta",
                          "sirene"})
        permisso.fields << flag(f);
    t << permisso;
    TableDef sirene{QStringLiteral("sirene"), {str("hora", 5), str("duracao", 10)}, {}, {}};
    for (const char* f : {"dom", "seg", "ter", "qua", "qui", "sex", "sab", "fer"})
        sirene.fields << str(f, 1);
    sirene.fields << str("descricao", 100);
    t << sirene;
    t << TableDef{
        QStringLiteral("registro"),
        {str("matricula", 20), typed("data", FieldType::Date), typed("hora", FieldType::Time)},
        {},
        {{QString::fromLatin1(kRegistroDayIndex),
          {QStringLiteral("matricula"), QStringLiteral("data"), QStringLiteral("hora")},
          false}}};
    t << TableDef{QStringLiteral("anormal"),
                  {typed("contador", FieldType::Integer, true),
                   typed("datahora", FieldType::DateTime), str("CODOCORRENCIA", 2),
                   str("Descricao", 100)},
                  {QStringLiteral("contador")},
                  {}};
    t << TableDef{QStringLiteral("layoutar"),
                  {typed("Matri_tam", FieldType::Integer), str("Matri_align", 1),
                   str("Matri_brancos", 1), typed("Nome_tam", FieldType::Integer),
                   typed("Empresa_tam", FieldType::Integer), str("Data_formato", 20),
                   str("Conteudo6", 50), str("Conteudo7", 50), str("Conteudo8", 50),
                   flag("Cabecalho"), str("Cabecalho_mascara", 100), str("Corpo_mascara", 100)},
                  {},
                  {}};
    return t;
}

} // namespace

const QList<TableDef>& deliveredTables() {
    static const QList<TableDef> tables = buildTables();
    return tables;
}

const TableDef* deliveredTable(const QString& name) {
    const QString n = engineTableName(name);
    for (const TableDef& t : deliveredTables())
        if (t.name.compare(n, Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

const FieldDef* deliveredField(const QString& table, const QString& field) {
    if (const TableDef* t = deliveredTable(table))
        for (const FieldDef& f : t->fields)
            if (f.name.compare(field, Qt::CaseInsensitive) == 0)
                return &f;
    return nullptr;
}

QString programIndexName(const QString& table, const QString& engineName) {
    if (const TableDef* t = deliveredTable(table))
        for (const IndexDef& ix : t->indexes)
            if (ix.name.compare(engineName, Qt::CaseInsensitive) == 0)
                return ix.name;
    return engineName;
}

QString programFieldName(const QString& table, const QString& engineName) {
    if (const TableDef* t = deliveredTable(table))
        for (const FieldDef& f : t->fields)
            if (f.name.compare(engineName, Qt::CaseInsensitive) == 0)
                return f.name;
    return engineName;
}

void createDeliveredSchema(Database& db) {
    db.begin();
    try {
        for (const TableDef& t : deliveredTables())
            for (const QString& sql : db.dialect().createTableSql(t))
                db.exec(sql);
        // The layout the export starts from: matricula right-aligned in 10
        // zero-filled columns, name 40, company 30, day and time; no header.
        // The body mask is left for the operator to define.
        db.exec(
            QStringLiteral(
                "INSERT INTO layoutar (Matri_tam, Matri_align, Matri_brancos, Nome_tam, "
                "Empresa_tam, Data_formato, Conteudo6, Conteudo7, Conteudo8, Cabecalho, "
                "Cabecalho_mascara, Corpo_mascara) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
            {10, QStringLiteral("D"), QStringLiteral("0"), 40, 30, QStringLiteral("DDMMYYYY HHMM"),
             QString(""), QString(""), QString(""), -1, QString(""), QString("")});
        db.commit();
    } catch (...) {
        db.rollback();
        db.invalidateCatalog();
        throw;
    }
    db.invalidateCatalog();
}

} // namespace keldo::db
