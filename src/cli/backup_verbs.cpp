#include "backup/archive_text.h"
#include "backup/backup_engine.h"
#include "backup/backup_errors.h"
#include "backup/blowfish.h"
#include "backup/live_database.h"
#include "backup/name_match.h"
#include "backup/side_by_side_disk.h"
#include "db/location.h"
#include "keldoctl.h"
#include "platform/file_attributes.h"
#include "platform/paths.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <optional>

namespace keldo::cli {
namespace {

using backup::TReaction;
using backup::TUBackPro;

// Options of one verb: "--name value" pairs, repeatable ones, and switches.
struct Options {
    QMap<QString, QString> single;
    QMap<QString, QStringList> repeated;
    QSet<QString> switches;
};

std::optional<Options> parse(const QStringList& args, const QStringList& withValue,
                             const QStringList& repeatable, const QStringList& flags,
                             QString& problem) {
    Options o;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (flags.contains(a)) {
            o.switches.insert(a);
        } else if (withValue.contains(a) || repeatable.contains(a)) {
            if (i + 1 >= args.size()) {
                problem = QStringLiteral("falta o valor de %1").arg(a);
                return std::nullopt;
            }
            if (repeatable.contains(a))
                o.repeated[a].append(args[++i]);
            else if (o.single.contains(a)) {
                problem = QStringLiteral("%1 foi dado mais de uma vez").arg(a);
                return std::nullopt;
            } else
                o.single[a] = args[++i];
        } else {
            problem = QStringLiteral("opção desconhecida: %1").arg(a);
            return std::nullopt;
        }
    }
    return o;
}

std::vector<std::string> toStd(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list)
        out.push_back(s.toStdString());
    return out;
}

// The result line every verb ends with; the status is the result code.
int finish(QTextStream& out, std::int32_t code) {
    out << "Resultado " << code;
    if (code != 0)
        out << ": " << QString::fromStdString(TUBackPro::ErrorText(code));
    out << "\n";
    return code;
}

int usage(QTextStream& out, QTextStream& err, const QString& verb, const QString& problem) {
    err << verb << ": " << problem << "\n";
    return finish(out, backup::kResultParameter);
}

// Data that does not inflate is what a wrong key gives (or damage): told in
// the operator's words, the decoder's own text beside it, before the result.
int undecodable(QTextStream& out, QTextStream& err, const QString& archive,
                const std::exception& e) {
    err << "chave incorreta ou arquivo de backup corrompido: " << archive << " ("
        << QString::fromStdString(e.what()) << ")\n";
    err.flush();
    return finish(out, backup::kResultOther);
}

// An unclassified error (result 99) comes back as an exception: its text is the detail.
template <typename Run>
int guarded(QTextStream& out, QTextStream& err, Run run, const QString& archive = {}) {
    try {
        return finish(out, run());
    } catch (const backup::EZDecompressionError& e) {
        return undecodable(out, err, archive, e);
    } catch (const backup::EUB_ZipError& e) {
        return undecodable(out, err, archive, e);
    } catch (const backup::EUB_WrongMedium& e) {
        // ReadCatalog passes a refused first volume on instead of giving a code.
        err << QString::fromStdString(e.what()) << "\n";
        err.flush();
        return finish(out, backup::kResultWrongMedium);
    } catch (const backup::EUB_UserAbortion& e) {
        err << QString::fromStdString(e.what()) << "\n";
        err.flush();
        return finish(out, backup::kResultUserAbortion);
    } catch (const std::exception& e) {
        err << QString::fromStdString(e.what()) << "\n";
        err.flush();
        return finish(out, backup::kResultOther);
    }
}

// --archive names the archive file or, with --span, any volume of the set.
void setArchive(TUBackPro& e, const QString& archive, bool span, QTextStream& err) {
    const std::string path = archive.toStdString();
    // The engine's result for a missing file speaks of creating an archive;
    // the operator is told first what is really wrong.
    std::error_code ec;
    if (!std::filesystem::exists(platform::toNative(path), ec))
        err << "Arquivo de backup não encontrado: " << archive << "\n";
    std::string folder(backup::folderPart(path));
    std::string name(backup::namePart(path));
    if (folder.empty())
        folder = "./";
    if (span) {
        const auto dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0)
            name.resize(dot);
    }
    e.BackupDestination = folder;
    e.ArchiveBaseName = name;
    e.SpanDisks = span;
}

// Reading a set of volumes from one folder: a volume that is there is "inserted"; one that
// is not cannot be, and asking again would wait for ever.
void volumesFromFolder(TUBackPro& e) {
    e.OnNextDisk = [&e](std::int32_t diskNo, TReaction& reaction) {
        const std::string base = backup::withTrailingSeparator(e.BackupDestination) +
                                 std::string(backup::namePart(e.ArchiveBaseName));
        const auto volume = backup::TArchiveStream::volumeName(base, diskNo);
        reaction = std::filesystem::exists(platform::toNative(volume)) ? TReaction::AW_IGNORE
                                                                       : TReaction::AW_ABORT;
    };
}

void setLog(TUBackPro& e, const Options& o) {
    if (o.single.contains("--log")) {
        e.LogFileMode = backup::TLogFileMode::LFM_CreateNew;
        e.LogFileName = o.single["--log"].toStdString();
    }
}

std::optional<double> parseSince(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^(\\d{2})/(\\d{2})/(\\d{4}) (\\d{2}):(\\d{2})$"));
    const auto m = re.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const int day = m.captured(1).toInt(), month = m.captured(2).toInt(),
              year = m.captured(3).toInt(), hour = m.captured(4).toInt(),
              minute = m.captured(5).toInt();
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        !QDate(year, month, day).isValid())
        return std::nullopt;
    return platform::dateTimeFromParts(year, month, day, hour, minute, 0);
}

QString attributesText(std::int32_t a) {
    QString s;
    s += (a & backup::kAttrReadOnly) ? 'R' : '-';
    s += (a & backup::kAttrHidden) ? 'H' : '-';
    s += (a & backup::kAttrSystem) ? 'S' : '-';
    s += (a & backup::kAttrArchive) ? 'A' : '-';
    return s;
}

// The exit status of a restore that ran to its end with entries it could not write.
constexpr int kExitRestoredWithErrors = 4;

void listFailures(QTextStream& out, const TUBackPro& e) {
    const auto& failures = e.RestoreFailures();
    if (failures.empty())
        return;
    out << "restaurado com erros: " << failures.size()
        << (failures.size() == 1 ? " arquivo não foi restaurado\n"
                                 : " arquivos não foram restaurados\n");
    for (const backup::TRestoreFailure& f : failures)
        out << "  " << QString::fromStdString(f.path) << " (" << QString::fromStdString(f.reason)
            << ")\n";
}

} // namespace

int backupVerb(const QStringList& args, QTextStream& out, QTextStream& err) {
    QString problem;
    auto o = parse(args,
                   {"--dest", "--name", "--mode", "--since", "--level", "--key", "--comment",
                    "--volume-size", "--log"},
                   {"--include", "--exclude"}, {"--span"}, problem);
    if (!o)
        return usage(out, err, "backup", problem);
    if (!o->single.contains("--dest") || !o->single.contains("--name"))
        return usage(out, err, "backup", QStringLiteral("--dest e --name são obrigatórios"));

    TUBackPro e;
    e.BackupDestination = o->single["--dest"].toStdString();
    e.ArchiveBaseName = o->single["--name"].toStdString();
    e.SpanDisks = o->switches.contains("--span");
    e.Comment = o->single.value("--comment").toStdString();
    e.BackupOpenFiles = true;
    e.VerifyDuringBackup = true;
    e.HandleOpenError = TReaction::AW_IGNORE;
    e.HandleFileReadError = TReaction::AW_IGNORE;
    setLog(e, *o);

    const QString level = o->single.value("--level", "max");
    if (level == "none")
        e.CompressData = backup::TCompressData::CDM_NoCompression;
    else if (level == "quick")
        e.CompressData = backup::TCompressData::CDM_QuickCompression;
    else if (level == "max")
        e.CompressData = backup::TCompressData::CDM_MaxCompression;
    else
        return usage(out, err, "backup", QStringLiteral("--level deve ser none, quick ou max"));

    const QString mode = o->single.value("--mode", "full");
    if (mode == "full")
        e.BackupMode = backup::TBackupMode::BM_Full;
    else if (mode == "incremental")
        e.BackupMode = backup::TBackupMode::BM_Incremental;
    else if (mode == "differential")
        e.BackupMode = backup::TBackupMode::BM_Differential;
    else if (mode == "special")
        e.BackupMode = backup::TBackupMode::BM_Special;
    else
        return usage(out, err, "backup",
                     QStringLiteral("--mode deve ser full, incremental, differential ou special"));
    if (o->single.contains("--since")) {
        auto since = parseSince(o->single["--since"]);
        if (!since)
            return usage(out, err, "backup",
                         QStringLiteral("--since deve ser \"DD/MM/AAAA HH:MM\""));
        e.SpecialBackupDate = *since;
    } else if (e.BackupMode == backup::TBackupMode::BM_Special) {
        return usage(out, err, "backup", QStringLiteral("--mode special pede --since"));
    }
    if (o->single.contains("--key")) {
        // The format's cipher throws away a key outside these lengths: the
        // archive would open with any key or none, while the operator thinks
        // it is protected.
        const std::string key = o->single["--key"].toStdString();
        if (key.size() < backup::TBlowfish::kMinKeyLength ||
            key.size() > backup::TBlowfish::kMaxKeyLength) {
            err << "backup: a chave deve ter de " << backup::TBlowfish::kMinKeyLength << " a "
                << backup::TBlowfish::kMaxKeyLength << " caracteres; uma chave de " << key.size()
                << " caracteres não cifraria nada. Nada foi copiado.\n";
            return 2;
        }
        e.EncryptData = true;
        e.EncryptKey = key;
    }

    std::optional<backup::TSideBySideDisk> disk;
    if (o->single.contains("--volume-size")) {
        bool ok = false;
        const qulonglong size = o->single["--volume-size"].toULongLong(&ok);
        if (!ok || size < backup::kRecordSize)
            return usage(out, err, "backup",
                         QStringLiteral("--volume-size deve ser um número de bytes de pelo menos "
                                        "%1")
                             .arg(backup::kRecordSize));
        if (!e.SpanDisks)
            return usage(out, err, "backup", QStringLiteral("--volume-size pede --span"));
        disk.emplace(size);
        e.DiskMedium = &*disk;
        e.OnNextDisk = [](std::int32_t, TReaction& r) { r = TReaction::AW_IGNORE; };
    }

    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    // An alias that cannot be resolved has no live database to guard; a
    // backup of named files goes on without it.
    std::optional<backup::LiveDatabase> live;
    try {
        live.emplace(engine);
    } catch (const db::DbError&) {
        if (!o->repeated.contains("--include"))
            return usage(out, err, "backup",
                         QStringLiteral("o alias Keldoran32 não dá o diretório do banco"));
    }
    if (o->repeated.contains("--include")) {
        e.IncludeNames = toStd(o->repeated["--include"]);
    } else {
        // As the backup window does: every ordinary file of the database directory.
        const QString directory = db::resolveDatabaseDirectory(engine);
        if (directory.isEmpty())
            return usage(out, err, "backup",
                         QStringLiteral("o alias Keldoran32 não dá o diretório do banco"));
        const QDir dir(db::nativePath(directory));
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase))
            if (!live->isJournal(dir.filePath(name)))
                e.IncludeNames.push_back((directory + name).toStdString());
        if (e.IncludeNames.empty())
            e.IncludeNames.push_back((directory + "*.*").toStdString());
    }
    e.ExcludeNames = toStd(o->repeated.value("--exclude"));

    return guarded(out, err, [&] {
        if (live)
            live->prepareBackup(e);
        const std::int32_t code = e.Backup();
        const auto& s = e.Statistic();
        out << "Arquivos: " << s.FilesDone << ", lidos " << s.BytesRead << " bytes, gravados "
            << s.BytesWritten << " bytes\n";
        return code;
    });
}

int catalogVerb(const QStringList& args, QTextStream& out, QTextStream& err) {
    QString problem;
    auto o = parse(args, {"--archive"}, {}, {"--span"}, problem);
    if (!o)
        return usage(out, err, "catalog", problem);
    if (!o->single.contains("--archive"))
        return usage(out, err, "catalog", QStringLiteral("--archive é obrigatório"));
    TUBackPro e;
    setArchive(e, o->single["--archive"], o->switches.contains("--span"), err);
    volumesFromFolder(e);
    return guarded(out, err, [&] {
        const std::int32_t code = e.ReadCatalog();
        if (code == 0) {
            for (const backup::TCatalogueEntry& entry : e.FileList()) {
                const platform::DateTimeParts p = platform::dateTimeToParts(entry.lastWrite);
                char when[32];
                std::snprintf(when, sizeof when, "%02d/%02d/%04d %02d:%02d:%02d", p.day, p.month,
                              p.year, p.hour, p.minute, p.second);
                out << QString::fromStdString(backup::fromArchiveText(entry.path)) << "\t"
                    << entry.size << "\t"
                    << QStringLiteral("%1").arg(entry.checksum, 8, 16, QChar('0')) << "\t"
                    << attributesText(entry.attributes) << "\t" << when << "\n";
            }
        }
        return code;
    });
}

int restoreVerb(const QStringList& args, QTextStream& out, QTextStream& err) {
    QString problem;
    auto o = parse(args, {"--archive", "--to", "--mode", "--key", "--log"}, {"--include"},
                   {"--span"}, problem);
    if (!o)
        return usage(out, err, "restore", problem);
    if (!o->single.contains("--archive"))
        return usage(out, err, "restore", QStringLiteral("--archive é obrigatório"));
    TUBackPro e;
    setArchive(e, o->single["--archive"], o->switches.contains("--span"), err);
    volumesFromFolder(e);
    setLog(e, *o);
    if (o->single.contains("--to")) {
        e.RedirectRestore = true;
        e.RestoreTo = o->single["--to"].toStdString();
        e.RedirectBelowCommonFolder = true;
    }
    const QString mode = o->single.value("--mode", "all");
    if (mode == "all")
        e.RestoreMode = backup::TRestoreMode::RM_All;
    else if (mode == "newer")
        e.RestoreMode = backup::TRestoreMode::RM_Newer;
    else if (mode == "newer-and-new")
        e.RestoreMode = backup::TRestoreMode::RM_NewerAndNew;
    else
        return usage(out, err, "restore",
                     QStringLiteral("--mode deve ser all, newer ou newer-and-new"));
    if (o->single.contains("--key")) {
        e.EncryptData = true;
        e.EncryptKey = o->single["--key"].toStdString();
    }
    const int status = guarded(
        out, err,
        [&] {
            if (o->repeated.contains("--include")) {
                e.IncludeNames = toStd(o->repeated["--include"]);
            } else {
                // As the backup window does: the include list is the catalogue itself.
                const std::int32_t code = e.ReadCatalog();
                if (code != 0)
                    return code;
                for (const backup::TCatalogueEntry& entry : e.FileList())
                    e.IncludeNames.push_back(backup::fromArchiveText(entry.path));
            }
            // Without an alias that resolves there is no live database to
            // guard, and every entry is written as the engine writes it.
            platform::EngineConfig engine;
            db::ensureRunAlias(engine);
            std::optional<backup::LiveDatabase> live;
            try {
                live.emplace(engine);
                live->prepareRestore(e);
            } catch (const db::DbError&) {
            }
            const std::int32_t code = e.Restore();
            out << "Arquivos: " << e.Statistic().FilesDone << " de " << e.FileCount() << "\n";
            listFailures(out, e);
            return code;
        },
        o->single["--archive"]);
    // The format's result code does not count failed entries; the exit status does.
    return status == 0 && !e.RestoreFailures().empty() ? kExitRestoredWithErrors : status;
}

} // namespace keldo::cli
