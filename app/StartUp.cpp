#include "app/StartUp.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/HeadlessOptions.h"
#include "app/OperatorText.h"
#include "app/QtTranslations.h"
#include "app/SingleInstance.h"
#include "app/UnitMain.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0')
      return true;
  }
  return false;
}

// The window is set up in the window: of the command line it takes the root alone, rather than
// quietly drop a password or an exclusion that the operator meant.
bool RootOnly(const THeadlessOptions& options, std::string& error) {
  THeadlessOptions rootOnly;
  rootOnly.Root = options.Root;
  if (options == rootOnly)
    return true;
  error = Bilingual("ウィンドウにはルートフォルダだけを渡せます。オプションは --headless と使います",
                    "the window takes only a root folder; the options go with --headless");
  return false;
}

}  // namespace

int RunWindow(int argc, char** argv) {
  if (!HasDisplay()) {
    PrintError(Bilingual("velmora: ウィンドウを出す画面がありません。画面なしで公開するには --headless を使います",
                         "no display for the window. To publish a folder without one:"));
    std::fputs(kHeadlessUsage, stderr);
    return 2;
  }
  QApplication application(argc, argv);  // takes Qt's own options out of argv
  const std::vector<std::string> args(argv + 1, argv + argc);
  THeadlessOptions options;
  std::string error;
  if (!ParseHeadlessOptions(args, options, error) || !RootOnly(options, error)) {
    PrintError("velmora: " + error);
    std::fputs(kHeadlessUsage, stderr);
    return 2;
  }
  QApplication::setApplicationName("Velmora");
  InstallQtTranslations(application);
  TSingleInstance instance(TSingleInstance::MarkerPath(QApplication::applicationFilePath()));
  switch (instance.Claim()) {
    case TSingleInstance::TClaim::Second:
      return 0;
    case TSingleInstance::TClaim::NoMarker:
      QMessageBox::critical(nullptr, QApplication::applicationName(), "起動できません");
      return 0;
    case TSingleInstance::TClaim::Unguarded:
      // Someone else holds the name of this user's folder: better a second window than none.
      PrintError(Bilingual("velmora: 二重起動を防ぐ印を置く自分専用のフォルダがありません。印なしで起動します",
                           "no private folder for the single-instance marker; running without it"));
      break;
    case TSingleInstance::TClaim::First:
      break;
  }
  std::vector<std::string> arguments;
  if (!options.Root.empty())
    arguments.push_back(options.Root);
  TFormMain form(arguments);
  QObject::connect(&instance, &TSingleInstance::ComeForwardRequested, &form, &TFormMain::BringToFront);
  form.show();
  return QApplication::exec() == 0 ? 0 : 1;
}
