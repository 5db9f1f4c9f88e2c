#pragma once
// Qt's own texts (the standard context menus of text fields, the buttons of dialogs) in the
// window's language, Japanese.

class QCoreApplication;

/// Installs Qt's Japanese translations, from Qt's translations folder, into application, which
/// owns them from then on. Returns false when they are not installed on this machine; Qt's texts
/// then stay English. Window's thread.
bool InstallQtTranslations(QCoreApplication& application);
