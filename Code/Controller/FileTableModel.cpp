#include "FileTableModel.h"

#include "_Controller.h"

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

QVariant FileTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return mDataSource.objectValueForTableColumn(index.column(), index.row());
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
