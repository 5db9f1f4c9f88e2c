#include "app/FolderBrowser.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

QString BrowseRootFolder(QWidget* owner) {
  QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  // Many Linux desktops have no desktop folder; the browser would then open at the working folder.
  if (!QDir(start).exists())
    start = QDir::homePath();
  const QString folder = QFileDialog::getExistingDirectory(owner, "Select root folder.", start,
                                                           QFileDialog::ShowDirsOnly);
  return folder.isEmpty() ? QString() : QDir(folder).absolutePath();
}
