#pragma once
// The window's status line: one line of text that never widens the window. Text too long
// for it is cut at the right with "…", and the whole text is its tooltip.
//
// User-interface thread only.

#include <QLabel>

namespace kelvaro::app {

class TStatusLine final : public QLabel {
    Q_OBJECT
public:
    explicit TStatusLine(QWidget* parent = nullptr);

    // Sets the text and the tooltip that holds the whole of it.
    void SetText(const QString& text);
    // What is drawn: the text as far as it fits.
    QString ShownText() const;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kelvaro::app
