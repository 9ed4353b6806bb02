#include "keldoctl.h"

#include "db/location.h"

#include <QFile>
#include <sys/stat.h>
#include <unistd.h>

namespace keldo::cli {

const QList<Verb>& verbs() {
    static const QList<Verb> list = {
        {"init-db", "init-db [--demo]",
         "cria o banco de dados de entrega no caminho do alias Keldoran32 (--demo: com dados "
         "de demonstração)",
         initDb},
        {"maintain", "maintain",
         "reconstrói os índices e compacta as tabelas de cadastro, como na partida do programa",
         maintain},
        {"sql", "sql STATEMENT | --file F [--rows]",
         "executa um comando SQL como o console de suporte; --rows imprime as linhas de um "
         "SELECT",
         sql},
        {"backup",
         "backup --dest DIR --name SET [--include SPEC]... [--exclude SPEC]... [--mode "
         "full|incremental|differential|special --since \"DD/MM/AAAA HH:MM\"] [--level "
         "none|quick|max] [--key K] [--comment TEXTO] [--span [--volume-size BYTES]] [--log F]",
         "copia os arquivos (sem --include, os do diretório do banco) para um arquivo de backup",
         backupVerb},
        {"catalog", "catalog --archive CAMINHO [--span]",
         "lista o conteúdo de um arquivo de backup: caminho, tamanho, checksum, atributos, data",
         catalogVerb},
        {"restore",
         "restore --archive CAMINHO [--to DIR] [--include SPEC]... [--mode "
         "all|newer|newer-and-new] [--key K] [--span] [--log F]",
         "restaura os arquivos de um backup (sem --include, todos; com --to, todos dentro de DIR, "
         "abaixo da pasta que têm em comum)",
         restoreVerb},
        {"export-punches",
         "export-punches --from DD/MM/AAAA --to DD/MM/AAAA [--company NOME] [--employee NOME] "
         "--out ARQUIVO [--pto|--layout]",
         "exporta as batidas do período, como a janela Exportação de pontos (sem --pto ou "
         "--layout, o formato de CONFMEN/EXPORTAPTO)",
         exportPunchesVerb},
        {"export-employees", "export-employees [--company NOME] --out ARQUIVO",
         "exporta o cadastro de colaboradores (todos, ou os da empresa) em texto de largura "
         "fixa",
         exportEmployeesVerb},
        {"import-employees", "import-employees --file ARQUIVO",
         "cadastra os colaboradores de um arquivo texto ainda não cadastrados, nas colunas de "
         "CORDENADAS do KELDO32.INI",
         importEmployeesVerb},
    };
    return list;
}

VerbSession::VerbSession() : dm(engine) {
    db::ensureRunAlias(engine);
    dm.setCreateWhenMissing(false);
    dm.resolveDatabaseDirectory();
    dm.takeStartupDirectory();
    dm.createIniHandle();
    dm.bindComponents();
}

QTextStream& summaryStream(const QString& fileName, QTextStream& out, QTextStream& err) {
    struct stat file {};
    struct stat standardOutput {};
    if (::stat(QFile::encodeName(fileName).constData(), &file) == 0 &&
        ::fstat(STDOUT_FILENO, &standardOutput) == 0 && file.st_dev == standardOutput.st_dev &&
        file.st_ino == standardOutput.st_ino)
        return err;
    return out;
}

namespace {

void help(QTextStream& out) {
    out << "Uso: keldoctl VERBO [OPÇÕES]\n\n"
           "Companheiro de linha de comando do Cronalto. Os dados ficam em KELDO_ROOT\n"
           "(padrão ~/.local/share/keldoran); o banco é o do alias Keldoran32 de\n"
           "KELDO_ROOT/engine.cfg.\n\nVerbos:\n";
    for (const Verb& v : verbs())
        out << "  " << QString::fromUtf8(v.usage) << "\n      " << QString::fromUtf8(v.summary)
            << "\n";
    out << "\n  --help   mostra esta ajuda (depois do verbo: a ajuda do verbo)\n";
}

} // namespace

int run(const QStringList& args, QTextStream& out, QTextStream& err) {
    if (args.isEmpty() || args.first() == QLatin1String("--help") ||
        args.first() == QLatin1String("-h") || args.first() == QLatin1String("help")) {
        help(out);
        return args.isEmpty() ? 2 : 0;
    }
    for (const Verb& v : verbs()) {
        if (args.first() != QLatin1String(v.name))
            continue;
        // Only as the first option: later on "--help" may be the value of
        // an option (a file named so), and a command line that asks for a
        // file must not silently print help and write nothing.
        if (args.size() > 1 && args[1] == QLatin1String("--help")) {
            out << "Uso: keldoctl " << QString::fromUtf8(v.usage) << "\n"
                << QString::fromUtf8(v.summary) << "\n";
            return 0;
        }
        return v.run(args.mid(1), out, err);
    }
    err << "keldoctl: verbo desconhecido: " << args.first() << "\n";
    help(err);
    return 2;
}

} // namespace keldo::cli
