#pragma once

#include <QPoint>
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
inline const QString kServiceUrl = QStringLiteral("serviceurl");
inline const QString kWindowPlace = QStringLiteral("windowplace");
// Which players on the session bus count; empty: every one but the web browsers.
inline const QString kMprisPlayers = QStringLiteral("mprisplayers");

inline constexpr std::int16_t kOptionDefault = 1;
inline constexpr std::int16_t kLastPlayerDefault = 1; // MediaMonkey
inline const QString kScreenWordListDefault = QStringLiteral("untitled,unknown,track,");
inline const QString kServiceUrlDefault = QStringLiteral("http://127.0.0.1:8631");

// The service's address as the program uses it (scheme, host and, when given, port, without a
// trailing slash), or why text is none: only http and https, a host, and nothing after the port but
// a lone "/".
struct ServiceAddress {
    QString base; // empty when the text is refused
    QString why;  // the reason, when refused
};
ServiceAddress serviceAddress(const QString& text);

// A number as the store keeps it: its decimal text, with one blank in front when it is not negative.
QString numberText(long value);

// A stored number: blanks are skipped and the decimal number at the start is taken (text without
// one reads as 0), rounded to the nearest integer with halves to even. Empty when the result does
// not fit 16 bits.
std::optional<std::int16_t> readNumber(const QString& text);

// The main window's place on the desktop as the store keeps it: "x,y", the top left corner of its
// frame in the desktop's coordinates.
QString placeText(const QPoint& place);
// A stored place; empty unless the text is two whole numbers joined by a comma.
std::optional<QPoint> readPlace(const QString& text);

} // namespace tunalo::settings
