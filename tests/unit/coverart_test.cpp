// The song's picture: read from the disk away from the user-interface thread, shown in the status
// line and carried by the balloon, and never anything but the icon when the picture will not do.
#include "core/publishcycle.h"
#include "support/appfixture.h"
#include "support/process.h"
#include "support/uiprobe.h"
#include "ui/coverart.h"
#include "ui/interface.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace tunalo::test {
namespace {

// Picture files of every kind a player may name.
class ArtFiles {
public:
    ArtFiles()
    {
        QImage(300, 200, QImage::Format_RGB32).save(path("cover.png"));
        writeText("notapicture.png", "ID3 these bytes are no picture");
        // A picture's header at the start of a file far larger than any cover.
        QImage(8, 8, QImage::Format_RGB32).save(path("huge.png"));
        QFile huge(path("huge.png"));
        huge.resize(50LL * 1024 * 1024);
    }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QString url(const char* name) const { return QUrl::fromLocalFile(path(name)).toString(); }

private:
    void writeText(const char* name, const QByteArray& text)
    {
        QFile file(path(name));
        file.open(QIODevice::WriteOnly);
        file.write(text);
    }
    QTemporaryDir m_dir;
};

TEST(CoverArt, ReadsOnlyAPictureOfSensibleSizeScaledDown)
{
    const ArtFiles files;
    const QImage cover = CoverArt::read(files.path("cover.png"), 64);
    EXPECT_EQ(cover.size(), QSize(64, 42));
    for (const char* broken : {"missing.png", "notapicture.png", "huge.png"})
        EXPECT_TRUE(CoverArt::read(files.path(broken), 64).isNull()) << broken;
    EXPECT_EQ(CoverArt::localFile(files.url("cover.png")), files.path("cover.png"));
    for (const char* remote : {"https://example.org/cover.png", "http://example.org/c.png", "", "cover.png"})
        EXPECT_EQ(CoverArt::localFile(QString::fromLatin1(remote)), QString()) << remote;
}

// A started program following the players on the session bus, one of which plays.
class SongPicture : public AppTest {
protected:
    void SetUp() override
    {
        startUp();
        fakes.players->any = true;
        app->state().selectedPlayer = 4;
        balloons = std::make_unique<BalloonLog>(*fakes.shell);
    }
    void play(const QString& artUrl)
    {
        fakes.players->playing = {QStringLiteral("Band - Song"), QStringLiteral("Strawberry"), artUrl};
        app->form<interface>().update_Timer();
    }
    void postedBalloon()
    {
        app->cycle().showSongBalloon(QStringLiteral("Band - Song"), QStringLiteral(" (Song Posted)"),
                                     BalloonIcon::Quiet, kClickDoesNothing);
    }
    QLabel& statusPicture() { return *app->form<interface>().stsArt; }

    ArtFiles files;
    std::unique_ptr<BalloonLog> balloons;
};

TEST_F(SongPicture, TheBalloonWaitsForTheSongsPictureAndCarriesItsFile)
{
    fakes.shell->balloonImage = QStringLiteral("left over");
    play(files.url("cover.png"));
    postedBalloon();
    EXPECT_TRUE(balloons->messages().isEmpty()) << "the picture is still being read";
    ASSERT_TRUE(waitUntil([&] { return !balloons->messages().isEmpty(); }, 5000));
    EXPECT_EQ(balloons->messages(), QStringList{QStringLiteral("Band - Song (Song Posted)")});
    EXPECT_EQ(fakes.shell->balloonImage, files.path("cover.png"));
    EXPECT_FALSE(statusPicture().isHidden());
    EXPECT_EQ(statusPicture().pixmap().size(), QSize(64, 42));

    // The same song's next balloon needs no new read.
    postedBalloon();
    EXPECT_EQ(balloons->messages().size(), 2);
}

TEST_F(SongPicture, APictureThatWillNotDoLeavesTheIconAndAnEmptyLine)
{
    for (const QString& artUrl : {files.url("missing.png"), files.url("notapicture.png"), files.url("huge.png"),
                                  QStringLiteral("https://example.org/cover.png"), QString()}) {
        // A good picture first, so that what follows has one to lose.
        play(files.url("cover.png"));
        postedBalloon();
        ASSERT_TRUE(waitUntil([&] { return fakes.shell->balloonImage == files.path("cover.png"); }, 5000));
        const qsizetype shown = balloons->messages().size();
        play(artUrl);
        postedBalloon();
        ASSERT_TRUE(waitUntil([&] { return balloons->messages().size() == shown + 1; }, 5000))
            << artUrl.toStdString();
        EXPECT_EQ(fakes.shell->balloonImage, QString()) << artUrl.toStdString();
        EXPECT_TRUE(statusPicture().isHidden()) << artUrl.toStdString();
    }
}

TEST_F(SongPicture, APlayerOfWindowTitlesHasNoPicture)
{
    play(files.url("cover.png"));
    app->state().selectedPlayer = 1;
    app->form<interface>().update_Timer();
    postedBalloon();
    EXPECT_EQ(balloons->messages().size(), 1);
    EXPECT_EQ(fakes.shell->balloonImage, QString());
}

} // namespace
} // namespace tunalo::test
