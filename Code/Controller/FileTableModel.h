#pragma once

#include <QAbstractTableModel>

class _Controller;

// The file table's model. It keeps no names of its own: it asks the controller, the table's data
// source, for the row count and each cell, so the table always shows the controller's file list.
class FileTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    FileTableModel(const _Controller& dataSource, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Makes the table ask the data source again, after the file list was replaced.
    void reloadData();

private:
    const _Controller& mDataSource;
};
