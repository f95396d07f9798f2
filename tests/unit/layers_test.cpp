#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <map>

namespace tunalo::test {
namespace {

// The layers of src/ and what each may include, as the README's picture shows them. A file's layer
// is its folder; src/platform holds the interfaces itself and the adapters in its subfolders.
const std::map<QString, QStringList>& allowedIncludes()
{
    static const std::map<QString, QStringList> allowed = {
        {QStringLiteral("interfaces"), {"interfaces", "core", "nowplaying"}},
        {QStringLiteral("core"), {"core", "nowplaying", "interfaces"}},
        {QStringLiteral("nowplaying"), {"core", "nowplaying", "interfaces"}},
        {QStringLiteral("tray"), {"tray", "interfaces"}},
        {QStringLiteral("ui"), {"ui", "tray", "core", "nowplaying", "interfaces"}},
        {QStringLiteral("web"), {"web", "ui", "core", "interfaces"}},
        {QStringLiteral("adapters"), {"adapters", "core", "nowplaying", "interfaces"}},
        {QStringLiteral("app"), {"app", "web", "ui", "tray", "core", "nowplaying", "interfaces", "adapters"}},
        {QStringLiteral("main"), {"app"}},
    };
    return allowed;
}

// The layer of a path relative to src/.
QString layerOf(const QString& path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() == 1)
        return QStringLiteral("main");
    if (parts.front() != QLatin1String("platform"))
        return parts.front();
    const bool adapter = parts.size() > 2 || parts.last().startsWith(QLatin1String("realplatform."));
    return adapter ? QStringLiteral("adapters") : QStringLiteral("interfaces");
}

TEST(Layers, NoFileIncludesAcrossTheLayersAgainstThePicture)
{
    const QDir src(QStringLiteral(TUNALO_SOURCE_DIR "/src"));
    const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s+\"([^\"]+/[^\"]+)\""),
                                     QRegularExpression::MultilineOption);
    QStringList wrong;
    int files = 0;
    QDirIterator it(src.path(), {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = src.relativeFilePath(it.next());
        QFile file(src.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        ++files;
        const QString from = layerOf(path);
        ASSERT_TRUE(allowedIncludes().contains(from)) << "a folder outside the picture: " << path.toStdString();
        const QString text = QString::fromUtf8(file.readAll());
        for (auto match = include.globalMatch(text); match.hasNext();) {
            const QString included = match.next().captured(1);
            if (!src.exists(included))
                continue; // a library's header
            if (!allowedIncludes().at(from).contains(layerOf(included)))
                wrong << path + QStringLiteral(" -> ") + included;
        }
    }
    EXPECT_GT(files, 50) << "the sources were not found";
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(QLatin1Char('\n')).toStdString();
}

TEST(Layers, TheCheckTellsAnAdapterFromAnInterface)
{
    EXPECT_EQ(layerOf(QStringLiteral("platform/browser.h")), QStringLiteral("interfaces"));
    EXPECT_EQ(layerOf(QStringLiteral("platform/qt/lockfile.cpp")), QStringLiteral("adapters"));
    EXPECT_EQ(layerOf(QStringLiteral("platform/realplatform.cpp")), QStringLiteral("adapters"));
    EXPECT_EQ(layerOf(QStringLiteral("main.cpp")), QStringLiteral("main"));
    EXPECT_FALSE(allowedIncludes().at(QStringLiteral("core")).contains(QStringLiteral("ui")));
}

} // namespace
} // namespace tunalo::test
