#include "support/qtwarnings.h"

#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstdio>

namespace tunalo::test {

namespace {

struct Allowance {
    QString fragment;
    int seen = 0;
    bool active = true;
};

std::vector<Allowance>& allowances()
{
    static std::vector<Allowance> list;
    return list;
}

// What the platform plugins and the browser engine say on every machine, about themselves.
bool isPlatformNoise(const QString& message)
{
    static const char* const kNoise[] = {
        "This plugin does not support",
        "QStandardPaths: XDG_RUNTIME_DIR",
        "Sandboxing disabled by user",
        // The engine, on finding no OpenGL, which the program leaves out.
        "No suitable graphics backend found",
    };
    for (const char* noise : kNoise)
        if (message.contains(QLatin1String(noise)))
            return true;
    return false;
}

void handler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(message));
    if (type == QtDebugMsg || type == QtInfoMsg || isPlatformNoise(message))
        return;
    for (Allowance& allowance : allowances()) {
        if (allowance.active && message.contains(allowance.fragment)) {
            ++allowance.seen;
            return;
        }
    }
    ADD_FAILURE() << "unexpected Qt warning: " << qUtf8Printable(message);
}

} // namespace

void failOnUnexpectedQtWarnings()
{
    qInstallMessageHandler(handler);
}

ExpectQtWarning::ExpectQtWarning(QString fragment) : m_index(allowances().size())
{
    allowances().push_back({std::move(fragment)});
}

ExpectQtWarning::~ExpectQtWarning()
{
    allowances()[m_index].active = false;
}

int ExpectQtWarning::seen() const
{
    return allowances()[m_index].seen;
}

} // namespace tunalo::test
