// tarvix-update: the updater for real controllers over USB HID (hidapi, hidraw backend).
#include <QApplication>

#include "base/local_text.h"
#include "base/trace.h"
#include "device/hidapi/hidapi_platform.h"
#include "ui/qt/qt_translation.h"
#include "ui/qt/update_app.h"

int main(int argc, char** argv) {
  if (!HasDisplay("tarvix-update"))
    return 1;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tarvix-update"));
  QGuiApplication::setDesktopFileName(QStringLiteral("tarvix-update"));
  QTranslator qtTexts;
  InstallQtTranslation(qtTexts, UiLanguage());

  HidapiPlatform platform;
  CUpdateApp theApp;
  theApp.m_seams = {&platform, WindowProgramTraceSink("tarvix-update"), {}};
  theApp.InitInstance();
  return 0;
}
