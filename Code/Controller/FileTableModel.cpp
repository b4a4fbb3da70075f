#include "FileTableModel.h"

#include "_Controller.h"

#include <QApplication>
#include <QStyle>

FileTableModel::FileTableModel(const _Controller& dataSource, QObject* parent)
    : QAbstractTableModel(parent)
    , mDataSource(dataSource)
{
}

int FileTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : mDataSource.numberOfRowsInTableView();
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
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return mDataSource.objectValueForTableColumn(index.column(), index.row());
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole:
        if (const QString problem = mDataSource.problemForRow(index.row()); !problem.isEmpty())
            return problem;
        if (role == Qt::ToolTipRole)
            return mDataSource.objectValueForTableColumn(index.column(), index.row());
        return {};
    case Qt::DecorationRole:
        if (!mDataSource.problemForRow(index.row()).isEmpty())
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

void FileTableModel::reloadData()
{
    beginResetModel();
    endResetModel();
}
