#include "FileTableModel.h"

#include "PlainText.h"

#include <QApplication>
#include <QStyle>

FileTableModel::FileTableModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int FileTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(mRows.size());
}

int FileTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

// A file that will not read whole carries a warning sign and says why; the cell's value stays the
// file's name, which the table cuts in the middle where it is long: its tooltip shows it whole,
// as the reason, which starts with the name, does.
QVariant FileTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= mRows.size())
        return {};
    const Row& row = mRows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return row.name;
    case Qt::ToolTipRole:
        return plainToolTip(row.problem.isEmpty() ? row.name : row.problem);
    case Qt::AccessibleDescriptionRole:
        return row.problem.isEmpty() ? QVariant() : row.problem;
    case Qt::DecorationRole:
        if (!row.problem.isEmpty())
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        return {};
    default:
        return {};
    }
}

QVariant FileTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section == 0)
        return tr("File");
    return QAbstractTableModel::headerData(section, orientation, role);
}

void FileTableModel::setRows(std::vector<Row> rows)
{
    beginResetModel();
    mRows = std::move(rows);
    endResetModel();
}
