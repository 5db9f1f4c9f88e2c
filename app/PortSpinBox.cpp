#include "app/PortSpinBox.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace {

constexpr int kMinPort = 80;
constexpr int kMaxPort = 65535;

bool AllDigits(const QString& text) {
  return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

long long PortValue(const QString& text, int fallback) {
  bool ok = false;
  const int value = text.toInt(&ok);
  return ok && AllDigits(text) ? value : fallback;
}

}  // namespace

TPortSpinBox::TPortSpinBox(int defaultPort, QWidget* parent) : QSpinBox(parent), FDefaultPort(defaultPort) {
  setRange(kMinPort, kMaxPort);
  setValue(defaultPort);
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  FLastText = Text();
  // Typing changes the editor's text; stepping and setting a value rewrite it with its
  // signals blocked and report through the spin box's own signal instead.
  connect(lineEdit(), &QLineEdit::textChanged, this, &TPortSpinBox::NoteText);
  connect(this, &QSpinBox::textChanged, this, &TPortSpinBox::NoteText);
  // Bringing "8" to "80" keeps the value, so neither of the above reports it.
  connect(this, &QAbstractSpinBox::editingFinished, this, &TPortSpinBox::NoteText);
}

void TPortSpinBox::NoteText() {
  const QString text = Text();
  if (text == FLastText)
    return;
  FLastText = text;
  emit PortTextChanged(text);
}

QString TPortSpinBox::Text() const {
  return lineEdit()->text();
}

long long TPortSpinBox::TextValue() const {
  return PortValue(Text(), FDefaultPort);
}

int TPortSpinBox::Commit() {
  interpretText();
  NoteText();
  return value();
}

QValidator::State TPortSpinBox::validate(QString& input, int&) const {
  if (input.isEmpty())
    return QValidator::Intermediate;
  if (!AllDigits(input))
    return QValidator::Invalid;
  bool ok = false;
  const int value = input.toInt(&ok);
  return ok && value >= minimum() && value <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
}

void TPortSpinBox::fixup(QString& input) const {
  bool ok = false;
  input.toInt(&ok);
  if (AllDigits(input) && !ok)  // more digits than any port has: the upper bound is nearest
    input = QString::number(maximum());
  else
    input = QString::number(std::clamp<long long>(PortValue(input, FDefaultPort), minimum(), maximum()));
}

void TPortSpinBox::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  if (!text.isEmpty() && text.at(0).isPrint() && !AllDigits(text)) {
    QApplication::beep();
    event->accept();
    return;
  }
  QSpinBox::keyPressEvent(event);
}
