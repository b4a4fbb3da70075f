#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <memory>

class MiddleCutLabel;
class ProgressSheet;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableView;

// The window definition: the main window with its menus, and the progress sheet, built from
// MainWindow.ui and ProgressSheet.ui, with the behaviour that belongs to the window itself; and
// its launch. It owns every element; the rest of the window holds plain pointers to them.
class WindowDefinition : public QObject {
    Q_OBJECT

public:
    // The elements that the window's code acts on, each named as in the .ui files.
    struct Outlets {
        QAction* mQuitMenuItem;
        QAction* mSelectMenuItem;
        QAction* mAboutMenuItem;
        QAction* mIdentifyMenuItem;
        QMenu* mPaceMenu;
        // The Pace menu's items, as the files say, then 1.5, 2 and 4 times slower.
        std::array<QAction*, 4> mPaceMenuItems;
        QMainWindow* mMainWindow;
        QComboBox* mDevicePopUpButton;
        QLineEdit* mFolderTextField;
        QTableView* mTableView;
        QLabel* mSummaryTextField;
        QPushButton* mSendButton;
        ProgressSheet* mProgressWindow;
        QPushButton* mCancelButton;
        QLabel* mStatusTextField;
        MiddleCutLabel* mFileTextField;
        QProgressBar* mProgressIndicator; // range 0..0 while it only shows that work goes on
        QLabel* mPercentTextField;
        QLabel* mRemainingTextField; // bytes sent of the total, and the time left
        QLabel* mPaceTextField; // shown only for a pace slower than the files say
    };

    WindowDefinition();
    ~WindowDefinition() override;

    const Outlets& outlets() const { return mOutlets; }

    // The folder the window opens on. An AppDir stands in the update's folder; a packaged copy
    // in /usr/bin stands nowhere near one, and opens where it was started: the terminal's folder,
    // or home from a desktop menu.
    static QString startFolder();
    // Shows the main window in front, and keeps Qt from storing settings on Morvex's behalf.
    void launch();
    // The About box: the version, the licence and the MIDI service in use. It changes nothing.
    void about(const QString& service);
    // What went wrong with the MIDI service and with the last folder, in the status bar.
    void showProblems(const QString& midi, const QString& folder);

protected:
    // Keeps the main window open while the progress sheet covers it.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<QMainWindow> mMainWindow;
    Outlets mOutlets;
};
