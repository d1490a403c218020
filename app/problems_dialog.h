#pragma once
// The problems of the last run: each file that was not converted, once, with its reason.
// Lines can be selected and copied (Ctrl+C); Copy takes them all.
//
// User-interface thread only.

#include <QDialog>
#include <QString>
#include <utility>
#include <vector>

class QTreeWidget;

namespace kelvaro::app {

class TProblemsDialog final : public QDialog {
    Q_OBJECT
public:
    explicit TProblemsDialog(QWidget* parent);

    // (file, reason) pairs, in the order they happened. A reason that starts with its own
    // file's name loses that start: the file has a column of its own.
    void SetProblems(const std::vector<std::pair<QString, QString>>& problems);
    // The selected lines, or all when none is selected, as "file<TAB>reason" lines.
    QString Text() const;
    QTreeWidget* List() const { return list_; }

private:
    void Copy() const;

    QTreeWidget* list_ = nullptr;
};

}  // namespace kelvaro::app
