// The real window on an X server: shown, used through its buttons, photographed. The picture
// goes where KELVARO_SCREENSHOT says, for a person to look at.

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QWindow>

#include "support/test_support.h"
#include "window_harness.h"

namespace kelvaro::test {
namespace {

TEST(RealWindow, ShowsCentredConvertsAndIsPhotographed)
{
    ASSERT_NE(QGuiApplication::platformName(), "offscreen") << "meant for a real X server";
    LoadMediaLibrariesForTest();
    fixtures::TempDir root;
    FakeServices services;
    Window window(services, TestFolders(root));
    window.form->show();
    ASSERT_TRUE(WaitUntil(
        [&] { return window.form->windowHandle() && window.form->windowHandle()->isExposed(); }));

    const QRect screen = window.form->screen()->availableGeometry();
    const QRect geometry = window.form->geometry();
    EXPECT_EQ(geometry.size(), QSize(610, 413));
    EXPECT_LE(std::abs(geometry.center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(geometry.center().y() - screen.center().y()), 1);

    window.Add(services, {QString::fromStdString(MakeTone(root, "first tone.wav", 2.0)),
                          QString::fromStdString(MakeTone(root, "second tone.wav", 2.0))});
    window.Button("spSkinButton9")->click();
    ASSERT_TRUE(WaitUntil([&] { return window.Idle(); }));
    EXPECT_EQ(window.Column(app::fcStats), (QStringList{"100%", "100%"}));
    window.List()->topLevelItem(1)->setSelected(true);
    Pump(std::chrono::milliseconds(200));

    // What the X server shows, not what the widget would paint.
    const QImage shot =
        window.form->screen()
            ->grabWindow(0, geometry.x(), geometry.y(), geometry.width(), geometry.height())
            .toImage();
    ASSERT_EQ(shot.size(), QSize(610, 413));
    QSet<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 3)
        for (int x = 0; x < shot.width(); x += 3)
            colours.insert(shot.pixel(x, y));
    EXPECT_GT(colours.size(), 8) << "the screenshot is blank";

    if (const QByteArray path = qgetenv("KELVARO_SCREENSHOT"); !path.isEmpty()) {
        EXPECT_TRUE(shot.save(QString::fromLocal8Bit(path)));
    }
}

TEST(RealWindow, At13PointsItGrowsSoThatNothingIsCut)
{
    ASSERT_NE(QGuiApplication::platformName(), "offscreen") << "meant for a real X server";
    LoadMediaLibrariesForTest();
    QFont font = QApplication::font();
    font.setPointSize(13);
    QApplication::setFont(font);
    fixtures::TempDir root;
    FakeServices services;
    Window window(services, TestFolders(root));
    window.Add(services, {QString::fromStdString(MakeTone(root, "a tone with a long name.wav", 0.5))});
    window.form->show();
    ASSERT_TRUE(WaitUntil(
        [&] { return window.form->windowHandle() && window.form->windowHandle()->isExposed(); }));
    Pump(std::chrono::milliseconds(200));
    const QRect geometry = window.form->geometry();
    EXPECT_GE(geometry.width(), 610);
    for (QPushButton* button : window.form->findChildren<QPushButton*>()) {
        if (button->window() != window.form.get() || !button->isVisible())
            continue;
        const QString text = QString(button->text()).remove('&');
        EXPECT_LT(button->fontMetrics().horizontalAdvance(text), button->width())
            << text.toStdString();
    }
    const QImage shot =
        window.form->screen()
            ->grabWindow(0, geometry.x(), geometry.y(), geometry.width(), geometry.height())
            .toImage();
    if (const QByteArray path = qgetenv("KELVARO_SCREENSHOT_LARGE"); !path.isEmpty()) {
        EXPECT_TRUE(shot.save(QString::fromLocal8Bit(path)));
    }
    QApplication::setFont(QFont());
}

}  // namespace
}  // namespace kelvaro::test
