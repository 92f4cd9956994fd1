// Saving and loading the ten persisted properties: both storage forms, the
// defaults, the version stamp, and damaged input that must change nothing.
#include "regaccess/plctag.h"
#include "regaccess/property_bag.h"

#include <QBuffer>
#include <QDataStream>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace regaccess {
namespace {

void Customise(Plctag& control)
{
    control.setHost(QStringLiteral("module-7.plant"));
    control.setPort(502);
    control.setTimeToLive(1500);
    control.setRoutePath(QStringLiteral("255.0.0.0.0"));
    control.setAdapter(3);
    control.setFunction(9); // not on the page, persisted as it is
    control.setRegType(2);
    control.setAddress(65536);
    control.setSize(-4);
    control.setSlaveReg(45000);
}

PersistedProperties Defaults() { return PersistedProperties{}; }

TEST(PersistenceTest, StreamRoundTripKeepsEveryValue)
{
    Plctag source;
    Customise(source);
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        saveProperties(source, out);
    }
    Plctag target;
    target.setModified(true);
    QDataStream in(bytes);
    QString error;
    ASSERT_TRUE(loadProperties(target, in, &error)) << error.toStdString();
    EXPECT_EQ(persistedProperties(target), persistedProperties(source));
    EXPECT_FALSE(target.isModified());
}

TEST(PersistenceTest, StreamLayoutIsVersionThenNamedValuesInOrder)
{
    Plctag control;
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        saveProperties(control, out);
    }
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 version = 0;
    in >> version;
    EXPECT_EQ(version, 0x40000u);
    const char* names[] = {
        "Host", "Port", "TimeToLive", "RoutePath", "Adapter", "Function", "RegType", "Address", "Size", "SlaveReg"};
    for (const char* name : names) {
        QString stored;
        in >> stored;
        EXPECT_EQ(stored, QLatin1String(name));
        if (stored == QLatin1String("Host") || stored == QLatin1String("RoutePath")) {
            QString value;
            in >> value;
        } else if (stored == QLatin1String("Address") || stored == QLatin1String("SlaveReg")) {
            qint32 value = 0;
            in >> value;
        } else {
            qint16 value = 0;
            in >> value;
        }
    }
    EXPECT_EQ(in.status(), QDataStream::Ok);
    EXPECT_TRUE(in.atEnd());
}

QByteArray StreamWithVersion(quint32 version)
{
    Plctag control;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    saveProperties(control, out);
    QDataStream patch(&bytes, QIODevice::ReadWrite);
    patch.setVersion(QDataStream::Qt_6_0);
    patch << version;
    return bytes;
}

TEST(PersistenceTest, OtherVersionsAreRefusedWithoutChangingTheControl)
{
    for (quint32 version : {0x50000u, 0x30000u, 0x40001u, 0u}) {
        Plctag control;
        Customise(control);
        const PersistedProperties before = persistedProperties(control);
        QDataStream in(StreamWithVersion(version));
        QString error;
        EXPECT_FALSE(loadProperties(control, in, &error)) << version;
        EXPECT_TRUE(error.contains(QStringLiteral("version"))) << error.toStdString();
        EXPECT_EQ(persistedProperties(control), before);
    }
}

TEST(PersistenceTest, TruncatedOrReorderedStreamsAreRefusedWhole)
{
    Plctag source;
    Customise(source);
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        saveProperties(source, out);
    }
    for (int cut : {0, 3, 10, static_cast<int>(bytes.size()) - 1}) {
        Plctag control;
        QDataStream in(bytes.left(cut));
        QString error;
        EXPECT_FALSE(loadProperties(control, in, &error)) << cut;
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(persistedProperties(control), Defaults()) << "nothing half-read, cut at " << cut;
    }
    QByteArray renamed = bytes;
    const QByteArray port = QByteArray("\0P\0o\0r\0t", 8);
    renamed.replace(port, QByteArray("\0P\0o\0r\0x", 8));
    Plctag control;
    QDataStream in(renamed);
    EXPECT_FALSE(loadProperties(control, in));
    EXPECT_EQ(persistedProperties(control), Defaults());
}

class SettingsTest : public ::testing::Test {
protected:
    QSettings settings() { return QSettings(dir.filePath(QStringLiteral("form.ini")), QSettings::IniFormat); }
    QTemporaryDir dir;
};

TEST_F(SettingsTest, RoundTripThroughAGroup)
{
    Plctag source;
    Customise(source);
    {
        QSettings s = settings();
        s.beginGroup(QStringLiteral("modConfigRead"));
        saveProperties(source, s);
    }
    QSettings s = settings();
    s.beginGroup(QStringLiteral("modConfigRead"));
    EXPECT_EQ(s.value(QStringLiteral("Version")).toInt(), 0x40000);
    EXPECT_EQ(s.value(QStringLiteral("Size")).toInt(), -4);
    Plctag target;
    ASSERT_TRUE(loadProperties(target, s));
    EXPECT_EQ(persistedProperties(target), persistedProperties(source));
}

TEST_F(SettingsTest, EmptyOrPartialStorageGivesTheDefaults)
{
    Plctag control;
    Customise(control);
    QSettings s = settings();
    s.beginGroup(QStringLiteral("fresh"));
    ASSERT_TRUE(loadProperties(control, s));
    EXPECT_EQ(persistedProperties(control), Defaults());
    EXPECT_EQ(control.Host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(control.SlaveReg(), 40001);

    s.setValue(QStringLiteral("Size"), 50);
    ASSERT_TRUE(loadProperties(control, s));
    PersistedProperties expected = Defaults();
    expected.size = 50;
    EXPECT_EQ(persistedProperties(control), expected);
}

TEST_F(SettingsTest, WrongVersionOrBadValueIsRefused)
{
    Plctag control;
    Customise(control);
    const PersistedProperties before = persistedProperties(control);
    QSettings s = settings();
    s.beginGroup(QStringLiteral("newer"));
    s.setValue(QStringLiteral("Version"), 0x50000);
    s.setValue(QStringLiteral("Size"), 5);
    QString error;
    EXPECT_FALSE(loadProperties(control, s, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("0x50000"))) << error.toStdString();
    s.endGroup();

    s.beginGroup(QStringLiteral("bad"));
    s.setValue(QStringLiteral("Port"), QStringLiteral("five"));
    EXPECT_FALSE(loadProperties(control, s, &error));
    s.setValue(QStringLiteral("Port"), 70000); // beyond 16 bits
    EXPECT_FALSE(loadProperties(control, s, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Port")));
    EXPECT_EQ(persistedProperties(control), before);
}

TEST(PersistenceTest, RegisterBufferAndCursorAreNotPersisted)
{
    Plctag source;
    source.setWordVal(0, 1234);
    source.setElementIndex(5);
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        saveProperties(source, out);
    }
    Plctag target;
    QDataStream in(bytes);
    ASSERT_TRUE(loadProperties(target, in));
    EXPECT_EQ(target.WordVal(0), 0);
    EXPECT_EQ(target.ElementIndex(), 0);
}

} // namespace
} // namespace regaccess
