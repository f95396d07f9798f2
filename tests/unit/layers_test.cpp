#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace tunalo::test {
namespace {

// The layers of src/ and what each may include, as the README's picture shows them. A file's layer
// is its folder: src/platform holds the interfaces and nothing else, src/adapters the real ones
// behind them; main.cpp and app/start.* are the entry that builds the real platform.
const std::map<QString, QStringList>& allowedIncludes()
{
    static const std::map<QString, QStringList> allowed = {
        {QStringLiteral("interfaces"), {"interfaces"}},
        {QStringLiteral("core"), {"core", "nowplaying", "interfaces"}},
        {QStringLiteral("nowplaying"), {"nowplaying", "interfaces"}},
        {QStringLiteral("tray"), {"tray", "interfaces"}},
        {QStringLiteral("ui"), {"ui", "tray", "core", "nowplaying", "interfaces"}},
        {QStringLiteral("web"), {"web", "ui", "core", "interfaces"}},
        {QStringLiteral("adapters"), {"adapters", "core", "nowplaying", "interfaces"}},
        {QStringLiteral("app"), {"app", "web", "ui", "tray", "core", "nowplaying", "interfaces"}},
        {QStringLiteral("entry"), {"entry", "app", "adapters", "interfaces"}},
    };
    return allowed;
}

// The layer of a path relative to src/.
QString layerOf(const QString& path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() == 1 || path.startsWith(QLatin1String("app/start.")))
        return QStringLiteral("entry");
    if (parts.front() != QLatin1String("platform"))
        return parts.front();
    // An adapter put back among the interfaces is a folder the picture does not know.
    return parts.size() == 2 ? QStringLiteral("interfaces") : QStringLiteral("platform/") + parts.at(1);
}

// Every include of a file of the tree under src that goes against the picture, as "file -> header";
// a file in a folder the picture does not know is one too.
QStringList includesAgainstThePicture(const QDir& src)
{
    const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s*[<\"]([^>\"]+)[>\"]"),
                                     QRegularExpression::MultilineOption);
    QStringList wrong;
    QDirIterator it(src.path(), {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = src.relativeFilePath(it.next());
        const QString from = layerOf(path);
        if (!allowedIncludes().contains(from)) {
            wrong << path + QStringLiteral(" (a folder outside the picture)");
            continue;
        }
        QFile file(src.filePath(path));
        if (!file.open(QIODevice::ReadOnly)) {
            wrong << path + QStringLiteral(" (unreadable)");
            continue;
        }
        const QString text = QString::fromUtf8(file.readAll());
        for (auto match = include.globalMatch(text); match.hasNext();) {
            const QString included = match.next().captured(1);
            if (!included.contains(QLatin1Char('/')) || !src.exists(included))
                continue; // a library's header
            if (!allowedIncludes().at(from).contains(layerOf(included)))
                wrong << path + QStringLiteral(" -> ") + included;
        }
    }
    return wrong;
}

TEST(Layers, NoFileIncludesAcrossTheLayersAgainstThePicture)
{
    const QDir src(QStringLiteral(TUNALO_SOURCE_DIR "/src"));
    ASSERT_TRUE(src.exists(QStringLiteral("core/publishcycle.h"))) << "the sources were not found";
    const QStringList wrong = includesAgainstThePicture(src);
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(QLatin1Char('\n')).toStdString();
}

TEST(Layers, TheCheckFindsAnIncludeAgainstThePictureInEitherForm)
{
    QTemporaryDir tree;
    ASSERT_TRUE(tree.isValid());
    const QDir src(tree.path());
    const auto write = [&](const QString& path, const QByteArray& text) {
        src.mkpath(QFileInfo(path).path());
        QFile file(src.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    write(QStringLiteral("ui/info.h"), "#pragma once\n");
    write(QStringLiteral("platform/browser.h"), "#pragma once\n");
    write(QStringLiteral("adapters/qt/lockfile.h"), "#pragma once\n");
    write(QStringLiteral("core/a.cpp"), "#include \"platform/browser.h\"\n#include <QString>\n");
    write(QStringLiteral("core/b.cpp"), "#include \"ui/info.h\"\n");
    write(QStringLiteral("nowplaying/c.cpp"), "#  include <ui/info.h>\n");
    write(QStringLiteral("app/mainmodule.cpp"), "#include \"adapters/qt/lockfile.h\"\n");
    write(QStringLiteral("app/start.cpp"), "#include \"adapters/qt/lockfile.h\"\n");
    write(QStringLiteral("gadgets/d.cpp"), "\n");
    write(QStringLiteral("platform/x11/e.cpp"), "\n");
    QStringList wrong = includesAgainstThePicture(src);
    wrong.sort();
    EXPECT_EQ(wrong, QStringList({QStringLiteral("app/mainmodule.cpp -> adapters/qt/lockfile.h"),
                                  QStringLiteral("core/b.cpp -> ui/info.h"),
                                  QStringLiteral("gadgets/d.cpp (a folder outside the picture)"),
                                  QStringLiteral("nowplaying/c.cpp -> ui/info.h"),
                                  QStringLiteral("platform/x11/e.cpp (a folder outside the picture)")}));
}

} // namespace
} // namespace tunalo::test
