#pragma once
// The main window (unit1): the file list, the format choice, the run over the list with its
// progress, Help and the way to the settings dialog.
//
// Threads: everything here runs on the user-interface thread except LumoAVCProgress and
// LumoAVCTerminate, which the converter calls on the thread that runs a job. They only queue
// their effects to the window, in the order the events were raised, and never wait for it.

#include <QString>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/qt_scheduler.h"
#include "converter/app_folders.h"
#include "converter/av_converter.h"
#include "converter/conversion_rule.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kelvaro::app {

class TFset;
class TPlatformServices;

// Columns of LvFiles.
enum TFileColumn { fcName, fcSize, fcStats, fcPath };

class TForm1 final : public QWidget {
    Q_OBJECT
public:
    // `services` must outlive the window. The window reads Path.ini and its own settings
    // from `folders` as it is created.
    TForm1(TPlatformServices& services, TAppFolders folders, QWidget* parent = nullptr);
    ~TForm1() override;

    // The settings dialog shown by Settings; created after the window, owned by it.
    void SetSettingsDialog(TFset* dialog) { settingsDialog_ = dialog; }

    QString OutputFolder() const { return OutputFolder_; }
    void SetOutputFolder(const QString& folder) { OutputFolder_ = folder; }
    const TAppFolders& Folders() const { return folders_; }
    QString LastOpenFolder() const { return LastOpenFolder_; }

    // Appends one row per file, as Add does with the files of its dialog; a folder adds the
    // audio files beneath it. Ignored while a run is active.
    void AddFiles(const QStringList& files);

    // The files of the last run that got no job or whose job failed, each with its reason.
    const std::vector<std::pair<QString, QString>>& RunProblems() const { return problems_; }

    // The converter's event handlers. Any thread; they queue their effects to the window.
    void LumoAVCProgress(int32_t AIndex, int32_t AFrameNumber, int32_t AFPS, int32_t ADurationTime,
                         float AQuality, float ABitRate, int64_t ACurrentSize,
                         int32_t ATotalDuration);
    void LumoAVCTerminate(int32_t AIndex, bool AFinished);

    // The component; for tests, which replace its jobs through its seam before a run.
    TLumoAVConverter& LumoAVC() { return LumoAVC_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void FormCreate();
    void FormCloseQuery();
    void spSkinButton1Click();  // Add
    void spSkinButton2Click();  // Remove
    void spSkinButton3Click();  // Clean
    void spSkinButton4Click();  // Settings
    void spSkinButton5Click();  // Help
    void spSkinButton8Click();  // Stop
    void spSkinButton9Click();  // Convert

    // Gives the rows their jobs a slice at a time, letting the window's events run between
    // slices while the first files already convert; tells the component when all are given.
    void FeedJobs();
    // One row: its job, or its refusal with the reason.
    void FeedRow(int row);
    // A row that gets no job: it stays in the list, marked, with its reason.
    void RefuseRow(int row, const QString& reason, int& counter);
    // The run ended before any job could be given.
    void EndRunWithoutJobs();
    void SetConverting(bool converting);
    void EndBusyGauge();
    void RemoveHandlers();

    // The effects of the converter's events, on the user-interface thread.
    void ShowProgress(int32_t index, int32_t durationTime, int32_t totalDuration);
    // `openFailed`: the job failed opening its files, before converting anything.
    void ShowTermination(int32_t index, bool finished, const QString& error, bool openFailed);
    // Whether an effect queued during run `run` may still change the window.
    bool Accepts(uint64_t run) const { return !closed_ && run == runId_.load(); }
    // The row that shows job `index`; nullptr for none.
    QTreeWidgetItem* RowOfJob(int32_t index) const;
    QString ProblemSummary() const;
    void ShowProblems();
    // Opens the file or folder in its usual program, and says so when nothing could.
    void OpenDocument(const QString& path);

    void ReadWindowSettings();
    void WriteWindowSettings() const;

    TPlatformServices& services_;
    const TAppFolders folders_;

    QPushButton* spSkinButton1 = nullptr;
    QPushButton* spSkinButton2 = nullptr;
    QPushButton* spSkinButton3 = nullptr;
    QPushButton* spSkinButton4 = nullptr;
    QPushButton* spSkinButton5 = nullptr;
    QPushButton* spSkinButton8 = nullptr;
    QPushButton* spSkinButton9 = nullptr;
    QTreeWidget* LvFiles = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLabel* BTips = nullptr;
    TFset* settingsDialog_ = nullptr;

    QString OutputFolder_;
    QString LastOpenFolder_;
    QString openDialogFilter_;
    QString openDialogFirstFilter_;

    // --- User-interface thread only.
    // Add lets the event loop run between files; a second Add, Convert, Remove or Clean must
    // not run inside it.
    bool adding_ = false;
    // Set by Close: queued effects are dropped from then on.
    bool closed_ = false;
    // Set by Stop: jobs ending unfinished from then on were stopped, they did not fail, and
    // progress or the run's end delivered after it no longer changes the window.
    bool stopped_ = false;
    // Files of this run that got no job, then jobs that failed, with the reasons.
    std::vector<std::pair<QString, QString>> problems_;
    int rejectedCount_ = 0;
    // Files whose output would have destroyed another file of the list.
    int refusedCount_ = 0;
    int failedCount_ = 0;
    int stoppedCount_ = 0;
    int convertedCount_ = 0;
    // The rows Convert is still giving jobs; none once all have theirs (or on Stop).
    struct TFeed {
        std::vector<std::string> inputs;  // the rows' files, as Convert found them
        TTargetFormat format = TTargetFormat::Wma;
        std::string folder;
        TOutputClaims claims;
        size_t inputsClaimed = 0;  // rows whose input the claims know
        size_t rowsFed = 0;
    };
    std::unique_ptr<TFeed> feed_;
    // The row of each job of the run, by job index: rows refused a job have none.
    std::vector<int> jobRows_;

    // Changes with every Convert, once the previous run's jobs are gone; read by the event
    // handlers on job threads, so that an effect of an earlier run never touches this one's
    // rows.
    std::atomic<uint64_t> runId_{0};

    // Declared before the component, which uses it until it is destroyed.
    TQtMainThreadScheduler scheduler_;
    TLumoAVConverter LumoAVC_;
};

// The open dialog's filter as the program has always written it ("Name|patterns|..."),
// converted to the dialog's own "Name (patterns);;..." form.
QString OpenDialogFilter();
// The extensions ("wav", "mp3", ...) of the audio files a dropped folder adds: the list the
// command line walks folders with.
QStringList AudioFileExtensions();

}  // namespace kelvaro::app
