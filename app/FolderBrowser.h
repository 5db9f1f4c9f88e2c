#pragma once
// The folder browser through which the operator chooses the root folder.

#include <QString>

class QWidget;

/// Shows the folder browser ("Select root folder.", folders only, starting at the desktop
/// folder, nothing preselected) and returns the full path of the confirmed folder, or the empty
/// text on cancel. Window's thread only.
QString BrowseRootFolder(QWidget* owner);
