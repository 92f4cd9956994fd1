#pragma once
// The configurator has no connection dialog: the IP address typed in the "IP"
// row of the TCP/IP frame is also the address every request goes to.
#include <QString>
#include <array>
#include <optional>

namespace chronel {

// An IPv4 address as four text fields, as the IP row holds it.
using OctetFields = std::array<QString, 4>;

// Host text built from the four IP fields: each field's leading number (0 when
// it holds none) in its shortest decimal form, joined by "." — fields "10",
// "0", "0", "7" give "10.0.0.7", a field of letters contributes "0".
QString GetIp(const OctetFields& ip);

// An IPv4 address as the programs take it on their command lines (--ip):
// four fields of one to three decimal digits, each 0 … 255, and nothing else
// (no sign, blank or fifth field). The octets in their shortest decimal form
// ("010" gives "10"), nothing when `text` is not such an address.
std::optional<OctetFields> ParseIpv4Address(const QString& text);

// Every request is addressed to unit 255.
inline QString ModuleRoutePath() { return QStringLiteral("255.0.0.0.0"); }

// The host text a stopped channel gets: it cannot be resolved, so a request
// that still goes out fails at once with 10022 instead of reaching the module.
inline QString StopHost() { return QStringLiteral(" . . . "); }

} // namespace chronel
