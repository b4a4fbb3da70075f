#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

// The file table's model: one row per listed file, in sending order, and every column shows its
// name. It is given its rows whole each time the list or what is known of the files changes.
class FileTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    struct Row {
        QString name; // as the window shows it
        QString problem; // why the file will not read whole; empty when it will, or not yet known
    };

    explicit FileTableModel(QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Replaces every row, and makes the table ask again.
    void setRows(std::vector<Row> rows);

private:
    std::vector<Row> mRows;
};
