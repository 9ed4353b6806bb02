#include "backup/live_database.h"

#include "db/database_copy.h"
#include "db/location.h"
#include "platform/paths.h"

#include <QFile>
#include <QFileInfo>

namespace keldo::backup {

namespace fs = std::filesystem;

LiveDatabase::LiveDatabase(platform::EngineConfig& engine) {
    const db::AliasConnection alias = db::aliasConnection(engine);
    if (alias.engine == db::Engine::Sqlite)
        file_ = alias.sqliteFile;
}

LiveDatabase::~LiveDatabase() {
    if (!copy_.isEmpty())
        QFile::remove(copy_);
}

bool LiveDatabase::isJournal(const QString& nativePath) const {
    if (file_.isEmpty())
        return false;
    const QFileInfo live(file_), other(nativePath);
    for (const QString& suffix : db::sqliteJournalSuffixes())
        if (other.fileName() == live.fileName() + suffix &&
            QFileInfo(other.path()).canonicalFilePath() ==
                QFileInfo(live.path()).canonicalFilePath())
            return true;
    return false;
}

void LiveDatabase::prepareBackup(TUBackPro& e) {
    if (file_.isEmpty() || !QFileInfo::exists(file_))
        return;
    const QString folder =
        QString::fromStdString(platform::toNative(platform::temporaryDirectory()).string());
    copy_ = db::copyLiveDatabase(file_, folder);
    TStandIn standIn;
    standIn.file = QFile::encodeName(file_).toStdString();
    standIn.copy = QFile::encodeName(copy_).toStdString();
    for (const QString& suffix : db::sqliteJournalSuffixes())
        standIn.leftOut.push_back(suffix.toStdString());
    e.StandIns.push_back(std::move(standIn));
}

void LiveDatabase::prepareRestore(TUBackPro& e) {
    if (file_.isEmpty())
        return;
    const fs::path live = QFile::encodeName(file_).toStdString();
    e.OnPlaceFile = [live, file = file_](const fs::path& target, const fs::path& extracted,
                                         bool checksumOk) {
        std::error_code ec;
        if (!fs::equivalent(target, live, ec))
            return false; // elsewhere, or no live database yet: written plainly
        if (!checksumOk)
            throw std::runtime_error(
                "the data does not match the archive's checksum; the live database was kept");
        db::bringInDatabase(QFile::decodeName(extracted.c_str()), file);
        return true;
    };
}

} // namespace keldo::backup
