#include "ui/qt/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include "base/local_text.h"

bool InstallQtTranslation(QTranslator& translator, uint16_t language) {
  if (language != LANG_ZH_CN)
    return false;
  if (!translator.load(QStringLiteral("qtbase_zh_CN"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  return QCoreApplication::installTranslator(&translator);
}
