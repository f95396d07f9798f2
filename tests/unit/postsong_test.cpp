#include "support/appfixture.h"
#include "ui/interface.h"
#include "web/frmweb.h"
#include "web/updatewb.h"

namespace tunalo::test {
namespace {

class PostSong : public AppTest {
protected:
    FakeBrowser& post() { return static_cast<FakeBrowser&>(app->form<updatewb>().wb()); }

    // The balloon texts the tray component handed to the shell, message and title.
    QStringList balloons() const
    {
        QStringList shown;
        for (const FakeNotifyShell::Call& call : fakes.shell->calls) {
            if (call.wide && (call.recordW.uFlags & NIF_INFO))
                shown << QString::fromUtf16(call.recordW.szInfo) + QLatin1Char('|') +
                             QString::fromUtf16(call.recordW.szInfoTitle);
            if (!call.wide && (call.recordA.uFlags & NIF_INFO))
                shown << QString::fromLocal8Bit(call.recordA.szInfo) + QLatin1Char('|') +
                             QString::fromLocal8Bit(call.recordA.szInfoTitle);
        }
        return shown;
    }
};

TEST_F(PostSong, SendsTheSongAndThePreviousIdEncodedToThePostBrowser)
{
    const QString page = QStringLiteral("http://127.0.0.1:8631/fb/update.php?s=");
    struct Row {
        const char* song;
        std::int16_t autoDelete;
        const char* lastPostTitle;
        const char* query; // after "?s="
    };
    const Row rows[] = {
        {"Artist - Title", 0, "Posted ID:12345", "Artist%20-%20Title"},
        {"Artist - Title", 1, "Posted ID:12345", "Artist%20-%20Title&d=12345"},
        {"Artist - Title", -3, "Posted ID:12345", "Artist%20-%20Title&d=12345"},
        {"Artist - Title", 1, "ID:12 ID:34", "Artist%20-%20Title&d=12%20"},
        {"Artist - Title", 1, "", "Artist%20-%20Title"},
        {"Artist - Title", 1, "Posted id:12345", "Artist%20-%20Title"},
        {"Artist - Title", 1, "ID:a&s=x", "Artist%20-%20Title&d=a%26s%3Dx"},
        {"Tom & Jerry #1 + 50% ?x=y", 0, "", "Tom%20%26%20Jerry%20%231%20%2B%2050%25%20%3Fx%3Dy"},
        {" Sigur Rós - Hoppípolla  ", 0, "", "%20Sigur%20R%C3%B3s%20-%20Hopp%C3%ADpolla%20%20"},
        {"", 1, "ID:7", "&d=7"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.song);
        SCOPED_TRACE(row.lastPostTitle);
        app->state().currentSong = QString::fromUtf8(row.song);
        app->state().autoDelete = row.autoDelete;
        app->state().lastPostTitle = QString::fromUtf8(row.lastPostTitle);
        post().navigations.clear();
        app->postsong();
        EXPECT_EQ(post().navigations, QStringList(page + QString::fromUtf8(row.query)));
        EXPECT_EQ(app->state().lastPostTitle, QString::fromUtf8(row.lastPostTitle))
            << "a post keeps the old id";
    }
    EXPECT_TRUE(static_cast<FakeBrowser&>(app->form<frmWeb>().wb()).navigations.isEmpty());
}

TEST_F(PostSong, WithAlertsOnClearsTheBalloonActionAndConfirmsThePost)
{
    app->state().currentSong = QStringLiteral("Artist - Title");
    app->state().autoAlert = 1;
    app->form<interface>().BallonMsgs = 1000;
    const qsizetype before = balloons().size();
    app->postsong();
    EXPECT_EQ(app->form<interface>().BallonMsgs, 0);
    if (fakes.shell->calls.empty())
        GTEST_SKIP() << "the tray component hands nothing to the shell yet";
    ASSERT_EQ(balloons().size(), before + 1);
    EXPECT_EQ(balloons().last(), QStringLiteral("Artist - Title (Song Posted)|Tunalo"));
}

TEST_F(PostSong, WithAlertsOffPostsSilently)
{
    app->state().currentSong = QStringLiteral("Artist - Title");
    app->state().autoAlert = 0;
    app->form<interface>().BallonMsgs = 1000;
    const qsizetype before = balloons().size();
    app->postsong();
    EXPECT_EQ(post().navigations.size(), 1);
    EXPECT_EQ(app->form<interface>().BallonMsgs, 1000);
    EXPECT_EQ(balloons().size(), before);
}

} // namespace
} // namespace tunalo::test
