// The desktop notification as the session bus carries it, to a stand-in for the desktop's
// notification service. Run inside a session bus of its own (dbus-run-session).

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QVariantMap>

#include "app/platform_services.h"

namespace {

class FakeNotifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList received;  // "app|icon|summary|body|desktop-entry hint|timeout"

public Q_SLOTS:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int timeout)
    {
        received << QStringList{app, icon, summary, body,
                                hints.value(QStringLiteral("desktop-entry")).toString(),
                                QString::number(timeout)}
                        .join('|');
        return 1;
    }
};

TEST(DesktopNotification, ReachesTheSessionsNotificationService)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "run it with dbus-run-session";
    FakeNotifications service;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    kelvaro::app::TDesktopServices desktop;
    desktop.ShowNotification("Kelvaro: conversion finished", "12 files converted, 1 not converted");
    QElapsedTimer clock;
    clock.start();
    while (service.received.isEmpty() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(service.received,
              QStringList{"Kelvaro|org.kelvaro.Kelvaro|Kelvaro: conversion finished|12 files "
                          "converted, 1 not converted|org.kelvaro.Kelvaro|-1"});
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}

#include "notification_test.moc"
