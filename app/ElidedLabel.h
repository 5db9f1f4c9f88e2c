#pragma once
// A one-line label for a text that may not fit: what does not fit is cut off with "…", so
// that the reader knows there is more (the window's status bar puts the whole text in the tip).

#include <QLabel>

/// A label of plain text on one line. Window's thread only.
class TElidedLabel : public QLabel {
  Q_OBJECT
public:
  using QLabel::QLabel;

  /// The text as drawn: all of it when it fits the label's width, else its start and "…".
  QString ShownText() const;

  /// As narrow as a layout likes: the label never widens its row for a long text.
  QSize minimumSizeHint() const override;

protected:
  void paintEvent(QPaintEvent* event) override;
};
