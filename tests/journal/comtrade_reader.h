#pragma once
// A COMTRADE 2013 reader for the tests, written from the format's text and
// not from the writer: the .cfg line by line (fields split at commas, lines
// ended by CR LF, each field's kind and bounds), then the .dat of the same
// name, ASCII or BINARY. Status channels only: a record with analog
// channels is refused, since the writer makes none.
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace chronel::test {

struct CfgStatusChannel {
    QString id, phase, component;
    int normalState = 0;
};

struct CfgTime {
    QDateTime utc;        // to the millisecond
    int microseconds = 0; // of the second, as written
};

struct DatSample {
    quint64 number = 0;
    quint64 stamp = 0;
    std::vector<int> states; // one per status channel
};

struct ComtradeRead {
    QString station, device;
    int revYear = 0;
    std::vector<CfgStatusChannel> channels;
    double lineFrequency = 0;
    int nrates = 0;
    std::vector<std::pair<double, quint64>> rates; // samp, endsamp
    CfgTime first, trigger;
    QString fileType;
    double timeMultiplier = 0;
    QString timeCode, localCode;
    int timeQuality = 0;
    int leapSecond = 0;
    std::vector<DatSample> samples;

    // A sample's time after the first data point, in microseconds.
    double microseconds(const DatSample& sample) const { return double(sample.stamp) * timeMultiplier; }
};

std::optional<ComtradeRead> ReadComtrade(const QString& cfgPath, QString* error);

} // namespace chronel::test
