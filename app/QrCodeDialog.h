#pragma once
// The dialog that shows an address as a QR code, for a phone's camera, with the address written
// below it.

#include <QDialog>
#include <QImage>
#include <QString>

#include "app/QrCode.h"

/// The code as an image: moduleSize pixels a module, black on white, inside a white quiet zone
/// of four modules, which readers need to find the code. A null image for an empty code.
QImage QrCodeImage(const TQrCode& code, int moduleSize);

/// Shows the QR code of one address, and a note below it when given. Window's thread only.
class TQrCodeDialog : public QDialog {
  Q_OBJECT
public:
  TQrCodeDialog(const QString& address, QWidget* parent = nullptr, const QString& note = {});
};
