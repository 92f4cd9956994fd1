#include "web/web_config.h"

#include <QFileInfo>
#include <QSettings>

#include <arpa/inet.h>

namespace chronel {

namespace {

std::optional<bool> ParseSwitch(const QString& text)
{
    const QString word = text.trimmed().toLower();
    if (word == u"true" || word == u"yes" || word == u"1" || word == u"on")
        return true;
    if (word == u"false" || word == u"no" || word == u"0" || word == u"off" || word.isEmpty())
        return false;
    return std::nullopt;
}

} // namespace

bool IsLoopbackAddress(const QString& host)
{
    const QByteArray text = host.toLatin1();
    unsigned char bytes[16] = {};
    if (inet_pton(AF_INET, text.constData(), bytes) == 1)
        return bytes[0] == 127;
    if (inet_pton(AF_INET6, text.constData(), bytes) != 1)
        return false;
    static constexpr unsigned char Loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static constexpr unsigned char Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(std::begin(Loopback), std::end(Loopback), bytes))
        return true;
    return std::equal(std::begin(Mapped), std::end(Mapped), bytes) && bytes[12] == 127;
}

bool ParseListen(const QString& text, QString* host, quint16* port, QString* error)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0) {
        *error = QStringLiteral("listen address \"%1\" is not ADDRESS:PORT").arg(text);
        return false;
    }
    QString address = text.left(colon);
    const bool bracketed = address.startsWith(u'[') && address.endsWith(u']');
    if (bracketed)
        address = address.mid(1, address.size() - 2);
    bool number = false;
    const uint value = text.mid(colon + 1).toUInt(&number);
    if (!number || value > 65535) {
        *error = QStringLiteral("listen address \"%1\": the port is not a number from 0 to 65535").arg(text);
        return false;
    }
    unsigned char bytes[16];
    const QByteArray latin = address.toLatin1();
    const bool v4 = !bracketed && inet_pton(AF_INET, latin.constData(), bytes) == 1;
    const bool v6 = bracketed && inet_pton(AF_INET6, latin.constData(), bytes) == 1;
    if (!v4 && !v6) {
        *error = QStringLiteral("listen address \"%1\": \"%2\" is not a numeric IPv4 address or a bracketed IPv6 one")
                     .arg(text, address);
        return false;
    }
    *host = address;
    *port = quint16(value);
    return true;
}

bool CheckWebConfig(const WebConfig& config, QString* error)
{
    if (config.plain && !IsLoopbackAddress(config.listenHost)) {
        *error = QStringLiteral("plain HTTP is refused on %1: passwords and sessions would cross the network "
                                "unencrypted; listen on 127.0.0.1 or ::1, or leave plain off")
                     .arg(config.listenHost);
        return false;
    }
    if (config.certificate.isEmpty() != config.key.isEmpty()) {
        *error = config.certificate.isEmpty() ? QStringLiteral("a key is set without its certificate")
                                              : QStringLiteral("a certificate is set without its key");
        return false;
    }
    if (config.journal.isEmpty()) {
        *error = QStringLiteral("no journal is set");
        return false;
    }
    return true;
}

std::optional<WebConfig> LoadWebConfig(const WebOverrides& overrides, QString* error)
{
    WebConfig config;
    const QString path = overrides.configFile.isEmpty() ? DefaultWebConfigPath : overrides.configFile;
    const QFileInfo file(path);
    if (file.exists()) {
        if (!file.isFile() || !file.isReadable()) {
            *error = QStringLiteral("cannot read the settings file %1").arg(path);
            return std::nullopt;
        }
        QSettings settings(path, QSettings::IniFormat);
        if (settings.status() != QSettings::NoError) {
            *error = QStringLiteral("the settings file %1 is not an INI file").arg(path);
            return std::nullopt;
        }
        settings.beginGroup(QStringLiteral("web"));
        if (settings.contains(QStringLiteral("listen"))) {
            const QString listen = settings.value(QStringLiteral("listen")).toString();
            if (!ParseListen(listen, &config.listenHost, &config.port, error)) {
                *error = QStringLiteral("%1: %2").arg(path, *error);
                return std::nullopt;
            }
        }
        config.journal = settings.value(QStringLiteral("journal"), config.journal).toString();
        config.certificate = settings.value(QStringLiteral("certificate")).toString();
        config.key = settings.value(QStringLiteral("key")).toString();
        config.state = settings.value(QStringLiteral("state"), config.state).toString();
        const std::optional<bool> plain = ParseSwitch(settings.value(QStringLiteral("plain")).toString());
        if (!plain) {
            *error = QStringLiteral("%1: plain is \"%2\", not true or false")
                         .arg(path, settings.value(QStringLiteral("plain")).toString());
            return std::nullopt;
        }
        config.plain = *plain;
    } else if (!overrides.configFile.isEmpty()) {
        *error = QStringLiteral("the settings file %1 does not exist").arg(path);
        return std::nullopt;
    }

    if (overrides.listen && !ParseListen(*overrides.listen, &config.listenHost, &config.port, error))
        return std::nullopt;
    if (overrides.journal)
        config.journal = *overrides.journal;
    if (overrides.certificate)
        config.certificate = *overrides.certificate;
    if (overrides.key)
        config.key = *overrides.key;
    if (overrides.plain)
        config.plain = true;
    if (!CheckWebConfig(config, error))
        return std::nullopt;
    return config;
}

} // namespace chronel
