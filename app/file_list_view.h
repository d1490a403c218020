#pragma once
// The window's list of files: a report list that says what to do while it is empty.
//
// User-interface thread only.

#include <QTreeWidget>

namespace kelvaro::app {

class TFileListView final : public QTreeWidget {
    Q_OBJECT
public:
    explicit TFileListView(QWidget* parent = nullptr);

    // Shown in the middle of the empty list.
    void SetEmptyHint(const QString& hint);
    QString EmptyHint() const { return emptyHint_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString emptyHint_;
};

}  // namespace kelvaro::app
