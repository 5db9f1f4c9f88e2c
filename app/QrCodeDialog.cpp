#include "app/QrCodeDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kQuietModules = 4;
// About 9 cm on a common screen: a phone held at arm's length still fills its frame with it.
constexpr int kMinimumSidePixels = 320;

int ModuleSizeFor(const TQrCode& code) {
  const int modules = code.Size + 2 * kQuietModules;
  return std::max(4, (kMinimumSidePixels + modules - 1) / modules);
}

}  // namespace

QImage QrCodeImage(const TQrCode& code, int moduleSize) {
  if (code.Size == 0)
    return {};
  const int side = (code.Size + 2 * kQuietModules) * moduleSize;
  QImage image(side, side, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  for (int y = 0; y < code.Size; ++y)
    for (int x = 0; x < code.Size; ++x)
      if (code.IsDark(x, y))
        painter.fillRect((x + kQuietModules) * moduleSize, (y + kQuietModules) * moduleSize, moduleSize, moduleSize,
                         Qt::black);
  return image;
}

TQrCodeDialog::TQrCodeDialog(const QString& address, QWidget* parent, const QString& note) : QDialog(parent) {
  setObjectName("DialogQR");
  setWindowTitle("QRコード");
  const TQrCode code = EncodeQrCode(address.toStdString());
  auto* picture = new QLabel(this);
  picture->setObjectName("LabelCode");
  picture->setPixmap(QPixmap::fromImage(QrCodeImage(code, ModuleSizeFor(code))));
  picture->setAlignment(Qt::AlignCenter);
  auto* text = new QLabel(address, this);
  text->setObjectName("LabelAddress");
  text->setAlignment(Qt::AlignCenter);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont large = text->font();
  large.setPixelSize(16);
  text->setFont(large);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setText("閉じる");
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(picture);
  layout->addWidget(text);
  if (!note.isEmpty()) {
    auto* noteLabel = new QLabel(note, this);
    noteLabel->setObjectName("LabelNote");
    noteLabel->setAlignment(Qt::AlignCenter);
    noteLabel->setWordWrap(true);
    noteLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(noteLabel);
  }
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}
