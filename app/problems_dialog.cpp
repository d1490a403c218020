#include "app/problems_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kelvaro::app {

TProblemsDialog::TProblemsDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ProblemsDialog"));
    setWindowTitle(tr("Problems"));
    resize(640, 320);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("ProblemsList"));
    list_->setColumnCount(2);
    list_->setHeaderLabels({tr("File"), tr("Reason")});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setTextElideMode(Qt::ElideMiddle);
    list_->setColumnWidth(0, 260);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(tr("&Copy"), QDialogButtonBox::ActionRole);
    copy->setToolTip(tr("Copy the selected lines, or all of them, as text"));
    connect(copy, &QPushButton::clicked, this, &TProblemsDialog::Copy);
    buttons->button(QDialogButtonBox::Close)->setToolTip(tr("Close this list"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* shortcut = new QShortcut(QKeySequence::Copy, list_);
    connect(shortcut, &QShortcut::activated, this, &TProblemsDialog::Copy);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(buttons);
}

void TProblemsDialog::SetProblems(const std::vector<std::pair<QString, QString>>& problems)
{
    list_->clear();
    QList<QTreeWidgetItem*> items;
    for (const auto& [file, reason] : problems) {
        QString text = reason;
        if (text.startsWith(file + QStringLiteral(": ")))
            text = text.mid(file.size() + 2);
        auto* item = new QTreeWidgetItem(QStringList{file, text});
        item->setToolTip(0, file);
        item->setToolTip(1, text);
        items << item;
    }
    list_->addTopLevelItems(items);
}

QString TProblemsDialog::Text() const
{
    QStringList lines;
    const bool selectedOnly = !list_->selectedItems().isEmpty();
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = list_->topLevelItem(row);
        if (!selectedOnly || item->isSelected())
            lines << item->text(0) + '\t' + item->text(1);
    }
    return lines.isEmpty() ? QString() : lines.join('\n') + '\n';
}

void TProblemsDialog::Copy() const
{
    QApplication::clipboard()->setText(Text());
}

}  // namespace kelvaro::app
