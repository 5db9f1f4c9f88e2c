#pragma once
// The port field: a number field from 80 to 65535 that takes digits only, reports every change
// of its text (typed or stepped) and brings its value into range when it loses the focus. A text
// that is no number reads as the default port it started with.

#include <QSpinBox>

/// The port field of the main window. Window's thread only.
class TPortSpinBox : public QSpinBox {
  Q_OBJECT
public:
  /// defaultPort: the value at start, and what a text that is no number reads as.
  explicit TPortSpinBox(int defaultPort, QWidget* parent = nullptr);

  /// The text as shown, also while it is out of range or empty.
  QString Text() const;
  /// The port the text reads as: its value when it is a whole number (in range or not), the
  /// default port when it is not.
  long long TextValue() const;

  /// Brings the text into range as losing the focus does and returns the value.
  int Commit();

  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;

signals:
  /// Every change of the text, typed, stepped or set.
  void PortTextChanged(const QString& text);

protected:
  void keyPressEvent(QKeyEvent* event) override;

private:
  void NoteText();

  const int FDefaultPort;
  QString FLastText;  // as last reported
};
