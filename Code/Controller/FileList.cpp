#include "FileList.h"

#include "DeviceChoice.h"
#include "FileTableModel.h"
#include "Folder.h"
#include "PlainText.h"
#include "PlanReader.h"
#include "Text/Duration.h"
#include "Transfer/UpdateFolder.h"

#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QTableView>

namespace {

// "1 file", "3 files".
QString counted(std::uint64_t count, const QString& one, const QString& many)
{
    return QLocale().toString(qulonglong(count)) + u' ' + (count == 1 ? one : many);
}

} // namespace

FileList::FileList(const Elements& elements, const DeviceChoice& device, UiQueue& queue)
    : mElements(elements)
    , mDevice(device)
    , mModel(new FileTableModel(elements.table))
    , mPlanReader(std::make_unique<PlanReader>(queue))
{
    mElements.table->setModel(mModel);
    // One line of text per file, not the taller rows a table gives by default.
    mElements.table->verticalHeader()->setDefaultSectionSize(
        mElements.table->fontMetrics().height() + 6);
    mElements.window->installEventFilter(this);
}

FileList::~FileList() = default;

void FileList::choose()
{
    QFileDialog chooser(
        mElements.window, tr("Select the Folder of Update Files"), QDir::homePath());
    chooser.setObjectName(QStringLiteral("folderChooser"));
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    chooser.setLabelText(QFileDialog::Accept, tr("Select"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    scan(chooser.selectedFiles().first());
    emit chosen();
}

void FileList::scan(const QString& path)
{
    mFolder = QFile::encodeName(path).toStdString();
    mElements.folderField->setText(displayName(mFolder));
    // The field's text is cut at its end where the path is long: its tooltip holds it whole.
    mElements.folderField->setToolTip(plainToolTip(mElements.folderField->text()));
    transfer::MidiFileListing listing = transfer::listMidiFiles(mFolder);
    mFileArray = std::move(listing.names);
    mProblem = QString::fromStdString(listing.error);
    emit problemChanged();
    mPlan.reset();
    showRows();
    showSummary();
    if (!mFileArray.empty())
        mPlanReader->read(mFolder, mFileArray, [this](transfer::Plan plan) {
            mPlan = std::move(plan);
            showRows();
            showSummary();
        });
}

void FileList::showRows()
{
    std::vector<FileTableModel::Row> rows;
    rows.reserve(mFileArray.size());
    for (std::size_t row = 0; row < mFileArray.size(); ++row) {
        QString problem;
        if (mPlan && row < mPlan->files().size()) {
            const transfer::Plan::File& file = mPlan->files()[row];
            problem = QString::fromStdString(transfer::judgeReading(file.name, file.reading));
        }
        rows.push_back({ displayName(mFileArray[row]), problem });
    }
    mModel->setRows(std::move(rows));
}

void FileList::showSummary()
{
    if (mFileArray.empty()) {
        mElements.summary->clear();
        return;
    }
    if (!mPlan) {
        mElements.summary->setText(tr("Reading the files..."));
        return;
    }
    const QLocale locale;
    const double slower = mDevice.slower();
    QStringList parts {
        counted(mPlan->files().size(), tr("file"), tr("files")),
        counted(mPlan->messages(), tr("message"), tr("messages")),
        locale.formattedDataSize(
            static_cast<qint64>(mPlan->bytes()), 0, QLocale::DataSizeTraditionalFormat),
        tr("about %1")
            .arg(QString::fromStdString(
                text::duration(mPlan->microsecondsFrom(0, mDevice.bytesPerSecond(), slower),
                    text::DurationStyle::Words))),
    };
    if (slower > transfer::Factor_LeastSlower)
        parts.append(tr("%1× slower").arg(locale.toString(slower)));
    mElements.summary->setText(parts.join(QStringLiteral(" · ")));
}

// A drop is taken as the chooser's OK, so it is refused while a transfer runs, as the Select menu
// item is.
bool FileList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != mElements.window
        || (event->type() != QEvent::DragEnter && event->type() != QEvent::Drop))
        return QObject::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    const QList<QUrl> urls = drop->mimeData()->urls();
    if (!mElements.selectItem->isEnabled() || urls.isEmpty() || !urls.first().isLocalFile()) {
        drop->ignore();
        return true;
    }
    drop->acceptProposedAction();
    if (event->type() == QEvent::Drop) {
        const QFileInfo dropped(urls.first().toLocalFile());
        scan(dropped.isDir() ? dropped.absoluteFilePath() : dropped.absolutePath());
        emit chosen();
    }
    return true;
}
