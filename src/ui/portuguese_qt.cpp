#include "ui/portuguese_qt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

namespace keldo::ui {

QStringList qtTranslationFolders() {
    return {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
            QDir(QCoreApplication::applicationDirPath())
                .filePath(QStringLiteral("../share/keldo/translations"))};
}

QString findQtTranslation(const QStringList& folders) {
    for (const QString& folder : folders) {
        if (folder.isEmpty())
            continue;
        const QFileInfo file(QDir(folder), QString::fromLatin1(kQtTranslationFile));
        if (file.isFile())
            return QDir::cleanPath(file.absoluteFilePath());
    }
    return {};
}

bool installPortugueseQt(QCoreApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    // One translator per application; the QPointer forgets it with the application.
    static QPointer<QTranslator> installed;
    if (installed && installed->parent() == &app)
        return true;
    const QString file = findQtTranslation(qtTranslationFolders());
    if (file.isEmpty())
        return false;
    auto* translator = new QTranslator(&app);
    if (!translator->load(file)) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}

} // namespace keldo::ui
