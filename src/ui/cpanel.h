#pragma once

#include <QString>

class QWidget;

namespace tunalo {

class info;

// Shows panel inside container, covering it, in front of every panel docked before (which stay
// alive behind it). True when the panel is in place.
bool dockpanel(QWidget& container, QWidget& panel);

// Puts a heading and a word-wrapped text into the message panel and docks it into container.
void showmessage(info& panel, QWidget& container, const QString& heading, const QString& body);

// The message text laid out as the message panel shows it: a line break before a word that would
// take the line past 30 characters, at most four breaks.
QString wrapMessage(const QString& body);

} // namespace tunalo
