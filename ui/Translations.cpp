#include "ui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

namespace orvex {

bool InstallQtTranslations(QCoreApplication& app, const QString& folder) {
  QStringList folders;
  if (!folder.isEmpty()) {
    folders << folder;
  } else {
    folders << QLibraryInfo::path(QLibraryInfo::TranslationsPath)
            << QStringLiteral("/usr/share/qt6/translations");
  }
  for (const QString& dir : folders) {
    // Owned by the application, so it lasts as long as the texts it gives.
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_ja"), dir)) {
      QCoreApplication::installTranslator(translator);
      return true;
    }
    delete translator;
  }
  return false;
}

}  // namespace orvex
