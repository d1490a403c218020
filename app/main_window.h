#pragma once
// The main window (unit1): the file list, the format choice, the run over the list with its
// progress, Help and the way to the settings dialog.
//
// Threads: everything here runs on the user-interface thread except LumoAVCProgress and
// LumoAVCTerminate, which the converter calls on the thread that runs a job. They only queue
// their effects to the window, in the order the events were raised, and never wait for it.

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/qt_scheduler.h"
#include "converter/app_folders.h"
#include "converter/av_converter.h"
#include "converter/conversion_rule.h"
#include "converter/failure_reason.h"
#include "converter/target_formats.h"

class QComboBox;
class QProgressBar;
class QPushButton;
class QTreeWidgetItem;

namespace kelvaro::app {

class TFileListView;
class TFset;
class TPlatformServices;
class TProblemsDialog;
class TStatusLine;

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
    // Also shown in the window, under the list.
    void SetOutputFolder(const QString& folder);
    const TAppFolders& Folders() const { return folders_; }
    QString LastOpenFolder() const { return LastOpenFolder_; }
    // Files converted at once, 1 (as the window always did) up to one per core.
    int FilesAtOnce() const { return filesAtOnce_; }
    void SetFilesAtOnce(int files);
    // Whether a stopped file's output is kept under its partial name ("song.partial.wma");
    // off by default: it is removed, and an earlier file of the output's name stays.
    bool KeepPartialOutputs() const { return keepPartialOutputs_; }
    void SetKeepPartialOutputs(bool keep) { keepPartialOutputs_ = keep; }
    // The format chosen in the box, whose entries are in the order of TargetFormats().
    TTargetFormat Format() const;
    // The quality `format` is written at, kept for each format: bit/s, the quality number
    // or the compression level, as its kind takes (0 for a format that takes none). The
    // format's default until set; a value is held within QualitySettingRange.
    double FormatQuality(TTargetFormat format) const;
    void SetFormatQuality(TTargetFormat format, double value);

    // Appends one row per file, as Add does with the files of its dialog; a folder adds the
    // audio files beneath it, and the status line says how many others it passed over.
    // Ignored while a run is active.
    void AddFiles(const QStringList& files);

    // The problems of the last run, each file once with its reason: files that got no job,
    // then jobs that failed, in the order they happened.
    const std::vector<std::pair<QString, QString>>& RunProblems() const { return problems_; }
    // The Problems view, once it has been opened; nullptr before.
    TProblemsDialog* ProblemsView() const { return problemsDialog_; }

    // A run that took longer than this and ends while the window is not the active one is
    // told by a desktop notification.
    void SetNotifyAfter(std::chrono::milliseconds duration) { notifyAfter_ = duration; }

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
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    void CreateShortcuts();
    void FormCreate();
    void FormCloseQuery();
    void spSkinButton1Click();  // Add
    void spSkinButton2Click();  // Remove
    void spSkinButton3Click();  // Clean
    void spSkinButton4Click();  // Settings
    void spSkinButton5Click();  // Help
    void spSkinButton8Click();  // Stop
    void spSkinButton9Click();  // Convert
    void AddFolderClick();
    void SelectAll();

    // Gives the rows their jobs a slice at a time, letting the window's events run between
    // slices while the first files already convert; tells the component when all are given.
    void FeedJobs();
    // One row: its job, or its refusal with the reason.
    void FeedRow(int row);
    // A row that gets no job: it stays in the list, marked "refused", with its reason.
    void RefuseRow(int row, const QString& reason, int& counter);
    // The run ended before any job could be given.
    void EndRunWithoutJobs();
    void SetConverting(bool converting);
    void EndBusyGauge();
    void RemoveHandlers();

    // The effects of the converter's events, on the user-interface thread.
    void ShowProgress(int32_t index, int32_t durationTime, int32_t totalDuration);
    // How a job ended, as read on its thread: why it failed (the engine's texts), the
    // warning of a finished job, the partial name a stopped job's output was kept under.
    struct TJobEnding {
        TJobFailure failure;
        QString warning;
        std::string partial;
    };
    void ShowTermination(int32_t index, bool finished, TJobEnding ending);
    // Whether an effect queued during run `run` may still change the window.
    bool Accepts(uint64_t run) const { return !closed_ && run == runId_.load(); }
    // The row that shows job `index`; nullptr for none.
    QTreeWidgetItem* RowOfJob(int32_t index) const;
    void AddProblem(const QString& file, const QString& reason);
    void ClearProblems();
    QString ProblemSummary() const;
    void SetStatus(const QString& text);
    void ShowProblemsView();
    void NotifyRunEnd();
    // Opens the file or folder in its usual program, and says so when nothing could.
    void OpenDocument(const QString& path);
    // The name and path columns share what the window has beyond its default width.
    void FitColumns();

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
    QPushButton* AddFolderButton = nullptr;
    QPushButton* OutputFolderButton = nullptr;
    QPushButton* ProblemsButton = nullptr;
    TFileListView* LvFiles = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    TStatusLine* BTips = nullptr;
    TFset* settingsDialog_ = nullptr;
    TProblemsDialog* problemsDialog_ = nullptr;

    QString OutputFolder_;
    QString LastOpenFolder_;
    QString openDialogFilter_;
    QString openDialogFirstFilter_;
    int filesAtOnce_ = 1;
    bool keepPartialOutputs_ = false;
    std::vector<double> formatQuality_;  // by format

    // --- User-interface thread only.
    // Add lets the event loop run between files; a second Add, Convert, Remove or Clean must
    // not run inside it.
    bool adding_ = false;
    // Set by Close: queued effects are dropped from then on.
    bool closed_ = false;
    // Set by Stop: jobs ending unfinished from then on were stopped, they did not fail, and
    // progress or the run's end delivered after it no longer changes the window.
    bool stopped_ = false;
    std::vector<std::pair<QString, QString>> problems_;
    // Files that could not be opened (or whose libraries could not be loaded).
    int rejectedCount_ = 0;
    // Files whose output would have destroyed another file of the list.
    int refusedCount_ = 0;
    int failedCount_ = 0;
    int stoppedCount_ = 0;
    int convertedCount_ = 0;
    // Converted, but not all the input held (it ended early, or met decoding errors).
    int warnedCount_ = 0;
    // The rows Convert is still giving jobs; none once all have theirs (or on Stop).
    struct TFeed {
        std::vector<std::string> inputs;  // the rows' files, as Convert found them
        TTargetFormat format = TTargetFormat::Wma;
        TConversionSettings settings;
        std::string folder;
        TOutputClaims claims;
        size_t inputsClaimed = 0;  // rows whose input the claims know
        size_t rowsFed = 0;
    };
    std::unique_ptr<TFeed> feed_;
    // The row of each job of the run, by job index: rows refused a job have none.
    std::vector<int> jobRows_;
    // The output file of each job of the run, by job index.
    std::vector<std::string> jobOutputs_;
    // The row whose progress was shown last, kept in view.
    QTreeWidgetItem* runningRow_ = nullptr;
    QElapsedTimer runClock_;
    std::chrono::milliseconds notifyAfter_{10000};

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
// The least, most and default value of the quality setting `format` takes, in the unit that
// FormatQuality keeps; all 0 for a format that takes none.
TFormatRange QualitySettingRange(const TFormatInfo& format);
// `path` with a leading "~" turned into the home folder, as a shell would.
QString ExpandHome(const QString& path);

}  // namespace kelvaro::app
