#include "window_harness.h"

#include <QCoreApplication>
#include <QDir>
#include <thread>

#include "converter/ffmpeg_hlpr.h"

namespace kelvaro::test {

QStringList FakeServices::GetOpenFileNames(QWidget*, const QString& initialFolder,
                                           const QString& filter, const QString& selectedFilter)
{
    ++openDialogCalls;
    lastInitialFolder = initialFolder;
    lastFilter = filter;
    lastSelectedFilter = selectedFilter;
    return std::exchange(nextFiles, {});
}

std::optional<QString> FakeServices::BrowseForFolder(QWidget*, const QString& startFolder)
{
    lastBrowseStart = startFolder;
    return std::exchange(nextFolder, std::nullopt);
}

void FakeServices::ShowError(QWidget*, const QString& text)
{
    errors << text;
}

bool FakeServices::OpenDocument(QWidget*, const QString& path)
{
    opened << path;
    return openSucceeds;
}

void FakeServices::ShowNotification(const QString& summary, const QString& body)
{
    notifications << summary + QStringLiteral(": ") + body;
}

TAppFolders TestFolders(const fixtures::TempDir& root)
{
    TAppFolders folders;
    folders.DefaultFolder = root.File("out/");
    folders.ConfigFolder = root.File("config/");
    folders.ProgramFolder = root.File("program/");
    folders.HelpFile = folders.ProgramFolder + "help.htm";
    folders.LibraryFolder = folders.ProgramFolder + "Lib";
    QDir().mkpath(QString::fromStdString(folders.ProgramFolder));
    return folders;
}

Window::Window(FakeServices& services, const TAppFolders& folders)
    : form(std::make_unique<app::TForm1>(services, folders))
{
    settings = new app::TFset(*form, services);
    form->SetSettingsDialog(settings);
}

Window::~Window() = default;

QPushButton* Window::Button(const char* name) const
{
    auto* button = form->findChild<QPushButton*>(QString::fromLatin1(name));
    EXPECT_NE(button, nullptr) << name;
    return button;
}

QTreeWidget* Window::List() const
{
    return form->findChild<QTreeWidget*>(QStringLiteral("LvFiles"));
}

QLabel* Window::Tips() const
{
    return form->findChild<QLabel*>(QStringLiteral("BTips"));
}

QProgressBar* Window::Gauge() const
{
    return form->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
}

QComboBox* Window::Combo() const
{
    return form->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
}

QStringList Window::Column(int column) const
{
    QStringList texts;
    for (int row = 0; row < List()->topLevelItemCount(); ++row)
        texts << List()->topLevelItem(row)->text(column);
    return texts;
}

void Window::Add(FakeServices& services, const QStringList& files)
{
    services.nextFiles = files;
    Button("spSkinButton1")->click();
}

bool Window::Idle() const
{
    return Button("spSkinButton1")->isEnabled() && Button("spSkinButton9")->isEnabled() &&
           !Button("spSkinButton8")->isEnabled();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void Pump(std::chrono::milliseconds duration)
{
    WaitUntil([] { return false; }, duration);
}

namespace {

class PacedJob final : public TFFmpegHlpr {
public:
    PacedJob(std::mutex& codecLock, std::chrono::milliseconds pause)
        : TFFmpegHlpr(codecLock), pause_(pause)
    {
    }
    // The worker calls our Transcode: it must be gone before this part of the object is.
    ~PacedJob() override { StopAndWait(); }

protected:
    void Transcode() override
    {
        ReportInterval = 0;
        ProgressHandler = [inner = ProgressHandler, pause = pause_](
                              TCustomFFmpegHlpr& sender, int32_t frameNumber, int32_t fps,
                              int32_t durationTime, float quality, float bitRate,
                              int64_t currentSize, int32_t totalDuration) {
            if (inner)
                inner(sender, frameNumber, fps, durationTime, quality, bitRate, currentSize,
                      totalDuration);
            std::this_thread::sleep_for(pause);
        };
        TFFmpegHlpr::Transcode();
    }

private:
    std::chrono::milliseconds pause_;
};

class HeldJob final : public TFFmpegHlpr {
public:
    using TFFmpegHlpr::TFFmpegHlpr;
    ~HeldJob() override { StopAndWait(); }

protected:
    void Transcode() override
    {
        while (!StopRequested)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

}  // namespace

void UseHeldJobs(app::TForm1& form)
{
    form.LumoAVC().SetJobFactory(
        [](std::mutex& codecLock) { return std::make_unique<HeldJob>(codecLock); });
}

void UsePacedJobs(app::TForm1& form, std::chrono::milliseconds pausePerPacket)
{
    form.LumoAVC().SetJobFactory([pausePerPacket](std::mutex& codecLock) {
        return std::make_unique<PacedJob>(codecLock, pausePerPacket);
    });
}

std::string MakeTone(const fixtures::TempDir& dir, const std::string& name, double seconds)
{
    fixtures::AudioSpec audioSpec;
    audioSpec.seconds = seconds;
    return fixtures::MakeWav(dir.File(name), audioSpec);
}

}  // namespace kelvaro::test
