// Qt's own texts (the file dialog's labels and columns, the boxes' buttons) in the updater's
// language: Linux draws nothing of them itself, so Qt's catalogue for the language is installed
// before the first window. Only Chinese has one to load; English is Qt's own.
#pragma once

#include <QTranslator>
#include <cstdint>

// Loads qtbase_zh_CN.qm from Qt's translations folder into translator and installs it in the
// application, when language is LANG_ZH_CN. Answers whether a catalogue was installed: false for
// every other language, and when the catalogue is missing (qt6-translations-l10n not installed),
// in which case Qt's texts stay English. The translator must outlive the windows.
bool InstallQtTranslation(QTranslator& translator, uint16_t language);
