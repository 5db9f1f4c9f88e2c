#pragma once
// One running instance per logged-on user and executable file name. The marker is a local
// socket named after both, in a folder where only this user can create entries; a second start
// connects to it to ask the first to come forward.

#include <QLocalServer>
#include <QObject>
#include <QString>

/// The marker of this instance. Window's thread only.
class TSingleInstance : public QObject {
  Q_OBJECT
public:
  enum class TClaim {
    First,      // this instance holds the marker
    Second,     // another instance runs and was asked to come forward
    NoMarker,   // the marker can neither be reached nor made
    Unguarded,  // no folder private to this user exists for the marker: run without one
  };

  /// The marker's name for an executable file name: lower-cased file name, "-", user id.
  static QString MarkerName(const QString& executableFileName);
  /// The marker's full path: MarkerName in the user's private runtime folder; empty when there
  /// is no such folder (another user holds its name).
  static QString MarkerPath(const QString& executableFileName);

  /// markerPath: where the marker lives (MarkerPath); empty for none.
  explicit TSingleInstance(QString markerPath, QObject* parent = nullptr);

  /// Makes the marker, or asks the instance holding it to come forward. A marker left behind by
  /// an instance that ended without removing it answers no connection and is replaced.
  TClaim Claim();

signals:
  /// A later start asked this instance to come forward.
  void ComeForwardRequested();

private:
  void Accept();

  const QString FPath;
  QLocalServer FServer;
};
