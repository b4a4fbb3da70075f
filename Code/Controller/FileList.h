#pragma once

#include "Transfer/Plan.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DeviceChoice;
class FileTableModel;
class PlanReader;
class QAction;
class QLabel;
class QLineEdit;
class QTableView;
class QWidget;
class UiQueue;

// What the update is: the folder, chosen in the folder chooser or dropped on the window, its
// "mid" files in the table, and the summary line under it, which sums them up once they have
// been read off the UI thread. UI thread only.
class FileList : public QObject {
    Q_OBJECT

public:
    struct Elements {
        QWidget* window; // the chooser's parent, and where a folder may be dropped
        QLineEdit* folderField;
        QTableView* table;
        QLabel* summary; // files, messages, bytes and time
        QAction* selectItem; // a drop is refused while it is disabled
    };

    // The summary's time is that of the chosen destination at the chosen pace.
    FileList(const Elements& elements, const DeviceChoice& device, UiQueue& queue);
    ~FileList() override;

    // Runs the folder chooser, which starts at home every time; a folder confirmed is listed.
    void choose();
    // Shows path in the folder field and lists its "mid" files.
    void scan(const QString& path);
    void showSummary();

    // Names without folder, in table and sending order: bytes as the file system holds them, so
    // that a name that is not UTF-8 still opens.
    const std::vector<std::string>& names() const { return mFileArray; }
    // The folder's path as the file system takes it: the field shows it escaped.
    const std::string& folder() const { return mFolder; }
    // Why the folder could not be listed; empty when it was.
    const QString& problem() const { return mProblem; }

signals:
    // A folder was confirmed in the chooser or dropped, and listed: Send is to be judged.
    void chosen();
    void problemChanged();

protected:
    // Lists a folder dropped on the window, or the folder of a file dropped on it, as if chosen
    // in the chooser.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The table's rows, with what the plan says of each file once it has been read.
    void showRows();

    const Elements mElements;
    const DeviceChoice& mDevice;
    FileTableModel* mModel;
    std::string mFolder;
    std::vector<std::string> mFileArray;
    QString mProblem;
    // The listed files as the transfer will read them, read off the UI thread; empty until then.
    std::unique_ptr<PlanReader> mPlanReader;
    std::optional<transfer::Plan> mPlan;
};
