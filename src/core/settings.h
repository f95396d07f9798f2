#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace tunalo::settings {

inline const QString kApplication = QStringLiteral("TNLO2");
inline const QString kSection = QStringLiteral("options");

inline const QString kAutoPublish = QStringLiteral("autopublish");
inline const QString kAutoDelete = QStringLiteral("autodelete");
inline const QString kAutoAlert = QStringLiteral("autoalert");
inline const QString kScreenWords = QStringLiteral("screenwords");
inline const QString kScreenWordList = QStringLiteral("screenwordlist");
inline const QString kLastPlayer = QStringLiteral("lastsmp");

inline constexpr std::int16_t kOptionDefault = 1;
inline constexpr std::int16_t kLastPlayerDefault = 1; // MediaMonkey
inline const QString kScreenWordListDefault = QStringLiteral("untitled,unknown,track,");

// A number as the store keeps it: its decimal text, with one blank in front when it is not negative.
QString numberText(long value);

// A stored number: blanks are skipped and the decimal number at the start is taken (text without
// one reads as 0), rounded to the nearest integer with halves to even. Empty when the result does
// not fit 16 bits.
std::optional<std::int16_t> readNumber(const QString& text);

} // namespace tunalo::settings
