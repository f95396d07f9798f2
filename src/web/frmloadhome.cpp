#include "web/frmloadhome.h"

#include "ui/panel.h"
#include "ui/paneltext.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tunalo {

namespace {

constexpr int kFrameSize = 100;

// The slow-loading notice under its heading, in reading order.
struct NoticePiece {
    const char* text;
    bool bold;
};
constexpr NoticePiece kNotice[] = {
    {"Please Make Sure You Have An", false},
    {"Active Internet Connection.", true},
    {"And That", false},
    {"Tunalo's Built-In Browser, Using The", false},
    {"Desktop's Proxy Settings,", true},
    {"Can Go Online.", false},
    {"If You Do Have An Active Internet Connection And The Proxy Settings Are Right Then Maybe Our Server "
     "is Down For Some Reason. In That Case Please Try Again After Some Time.",
     false},
};

QLabel* makeNoticeLabel(const NoticePiece& piece, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(piece.text), parent);
    // The pieces of a row stay on one line beside each other; the long last one wraps on its own.
    constexpr qsizetype kShortPiece = 60;
    label->setWordWrap(label->text().size() > kShortPiece);
    label->setAlignment(Qt::AlignCenter);
    if (piece.bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

QHBoxLayout* row(std::initializer_list<QLabel*> pieces)
{
    auto* layout = new QHBoxLayout;
    layout->setSpacing(4);
    layout->addStretch();
    for (QLabel* piece : pieces)
        layout->addWidget(piece);
    layout->addStretch();
    return layout;
}

} // namespace

QPixmap loadingFrame(int index, int dots, const QPalette& palette)
{
    QPixmap picture(kFrameSize, kFrameSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QPointF centre(kFrameSize / 2.0, kFrameSize / 2.0);
    constexpr double kRingRadius = 40.0;
    for (int dot = 0; dot < dots; ++dot) {
        // Clockwise from the top.
        const double angle = 2.0 * std::numbers::pi * dot / dots - std::numbers::pi / 2.0;
        const QPointF at = centre + kRingRadius * QPointF(std::cos(angle), std::sin(angle));
        const bool bright = dot == index;
        painter.setBrush(bright ? QColor(230, 0, 0) : QColor(245, 180, 180));
        const double radius = bright ? 7.0 : 5.5;
        painter.drawEllipse(at, radius, radius);
    }
    QFont font = painter.font();
    font.setPixelSize(12);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(textColour(palette, QColor(180, 0, 0)));
    painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("LOADING"));
    return picture;
}

frmloadhome::frmloadhome()
    : st(new QLabel(this)), frame{}, gifAnim(new QTimer(this)),
      Label1(new QLabel(QStringLiteral("The Home Page Is Taking Longer To Load Than Expected."), this)),
      Label2{}, Label3(new QLabel(this))
{
    // The animation is the view's own: it runs while the loader can be seen.
    gifAnim->setInterval(100);
    connect(gifAnim, &QTimer::timeout, this, &frmloadhome::gifAnim_Timer);
    for (QLabel*& picture : frame) {
        picture = new QLabel(this);
        picture->hide();
    }
    static_assert(std::size(kNotice) == std::tuple_size_v<decltype(Label2)>);
    for (std::size_t index = 0; index < Label2.size(); ++index)
        Label2[index] = makeNoticeLabel(kNotice[index], this);
    layOut();
}

// The animation runs while it can be seen; hidden, it waits on the frame where it stopped. Its
// pictures (440 KB) are drawn only for as long as the loader is on screen: a program started in the
// tray, or closed to it, never shows them.
void frmloadhome::showEvent(QShowEvent* event)
{
    drawFrames();
    gifAnim->start();
    Panel::showEvent(event);
}

void frmloadhome::hideEvent(QHideEvent* event)
{
    gifAnim->stop();
    for (QLabel* picture : frame)
        picture->setPixmap(QPixmap());
    st->setPixmap(QPixmap());
    Panel::hideEvent(event);
}

void frmloadhome::drawFrames()
{
    if (!frame[0]->pixmap().isNull())
        return;
    for (std::size_t index = 0; index < frame.size(); ++index)
        frame[index]->setPixmap(loadingFrame(static_cast<int>(index), static_cast<int>(frame.size()), palette()));
    // The frame where the animation stopped, until the next step.
    const int last = std::clamp(m_frameCounter - 1, 0, static_cast<int>(frame.size()) - 1);
    st->setPixmap(frame[static_cast<std::size_t>(last)]->pixmap());
}

void frmloadhome::layOut()
{
    st->setFixedSize(twips(1575), twips(1455));
    st->setAlignment(Qt::AlignCenter);

    QFont heading = Label1->font();
    heading.setBold(true);
    heading.setUnderline(true);
    Label1->setFont(heading);
    paneltext::setColour(Label1, QColor(0x8b, 0, 0));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(twips(240), twips(600), twips(240), twips(240));
    layout->addWidget(st, 0, Qt::AlignHCenter);
    layout->addSpacing(twips(240));
    layout->addWidget(Label1);
    layout->addLayout(row({Label2[0], Label2[1], Label2[2]}));
    layout->addLayout(row({Label2[3], Label2[4], Label2[5]}));
    layout->addWidget(Label2[6]); // wraps across the panel's width
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setWordWrap(true);
    QFont bold = Label3->font();
    bold.setBold(true);
    Label3->setFont(bold);
    layout->addWidget(Label3);
    layout->addStretch();

    // The notice shows only when the home page is slow.
    setNoticeVisible(false);
}

void frmloadhome::setNoticeVisible(bool visible)
{
    Label1->setVisible(visible);
    for (QLabel* piece : Label2)
        piece->setVisible(visible);
    Label3->setVisible(visible && !Label3->text().isEmpty());
}

void frmloadhome::resset()
{
    setNoticeVisible(false);
}

void frmloadhome::showNotice()
{
    setNoticeVisible(true);
}

void frmloadhome::setUnreached(const QString& address, const QString& cause)
{
    Label3->setText(address.isEmpty() ? QString()
                                      : QStringLiteral("Tunalo could not reach %1: %2.").arg(address, cause));
    setNoticeVisible(Label1->isVisibleTo(this));
}

void frmloadhome::gifAnim_Timer()
{
    drawFrames();
    if (m_frameCounter > static_cast<int>(frame.size()) - 1)
        m_frameCounter = 0;
    st->setPixmap(frame[static_cast<std::size_t>(m_frameCounter)]->pixmap());
    ++m_frameCounter;
}

} // namespace tunalo
