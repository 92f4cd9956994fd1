#pragma once
// Single-precision values as the configurator shows them: the shortest
// decimal text that reads back as the same single (at most seven significant
// digits), plain notation from 0.0001 up to 9999999 and an exponent form
// ("1.5E+07", "1E-05") outside, with a blank in front of zero and positive
// values and a minus sign in front of negative ones. Independent of the
// process locale.
#include <QString>

namespace chronel {

QString SingleText(float value);

// The single at float index i of a register block: words 2i (low half) and
// 2i + 1 (high half).
float SingleFromWords(qint16 low, qint16 high);

} // namespace chronel
