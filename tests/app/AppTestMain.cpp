// The window's tests run inside one application object on Qt's offscreen platform, with the
// C locale and the UTF-8 code page whatever the machine has.
#include <QApplication>

#include <gtest/gtest.h>

#include <clocale>

#include "platform/CodePage.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  std::setlocale(LC_ALL, "C");  // the application object took the machine's locale
  platform::SetSystemCodePage(platform::TCodePage::Utf8);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
