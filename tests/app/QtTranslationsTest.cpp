#include "app/QtTranslations.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

#include "AppTestSupport.h"

namespace {

// A text field's standard context menu once read "Undo / Cut / Select All" in the Japanese window.
TEST(QtTranslations, StandardContextMenusSpeakJapanese) {
  ASSERT_TRUE(InstallQtTranslations(*QCoreApplication::instance()));
  QLineEdit field("text");
  const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
  QStringList texts;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text();
  // The other tests keep Qt's own English.
  qDeleteAll(QCoreApplication::instance()->findChildren<QTranslator*>());

  ASSERT_FALSE(texts.isEmpty());
  EXPECT_TRUE(texts.join(", ").contains("元に戻す(&U)")) << texts.join(", ").toStdString();  // not "&Undo"
  for (const QString& text : texts) EXPECT_FALSE(IsAscii(text.toStdString())) << text.toStdString();
}

}  // namespace
