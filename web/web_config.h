#pragma once
// chronel-web's settings: the [web] group of an INI file (Qt's IniFormat),
// each overridden by its command-line option.
//   [web]
//   listen=0.0.0.0:8443          numeric address and port; [::1]:8443 for IPv6
//   journal=/var/lib/chronel/journal.sqlite   or postgresql://…
//   certificate=                 PEM files; both empty: a self-signed pair
//   key=                         kept in the state folder
//   plain=false                  HTTP without TLS, only on a loopback address
//   state=/var/lib/chronel-web
#include <QString>
#include <optional>

namespace chronel {

inline const QString DefaultWebConfigPath = QStringLiteral("/etc/chronel/web.conf");

struct WebConfig {
    QString listenHost = QStringLiteral("0.0.0.0");
    quint16 port = 8443;
    QString journal = QStringLiteral("/var/lib/chronel/journal.sqlite");
    QString certificate;
    QString key;
    bool plain = false;
    QString state = QStringLiteral("/var/lib/chronel-web");
};

// What the command line set; an unset option leaves the file's value.
struct WebOverrides {
    QString configFile; // empty: DefaultWebConfigPath, which may be missing
    std::optional<QString> listen, journal, certificate, key;
    bool plain = false;
};

// The settings, checked: nothing with `*error` naming the file or option
// and what is wrong with it.
std::optional<WebConfig> LoadWebConfig(const WebOverrides& overrides, QString* error);

// "ADDR:PORT" with a numeric IPv4 or bracketed IPv6 address.
bool ParseListen(const QString& text, QString* host, quint16* port, QString* error);
// 127.0.0.0/8 or ::1 (also as ::ffff:127.x.y.z).
bool IsLoopbackAddress(const QString& host);

// The combinations that may not run: plain HTTP off loopback, a
// certificate without its key or the other way round.
bool CheckWebConfig(const WebConfig& config, QString* error);

} // namespace chronel
