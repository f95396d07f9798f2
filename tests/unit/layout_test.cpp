#include "support/appfixture.h"
#include "support/themepalette.h"
#include "ui/aboutfrm.h"
#include "ui/cpanel.h"
#include "ui/helpfrm.h"
#include "ui/info.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"
#include "ui/smp.h"
#include "web/frmloadhome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>

#include <cstdlib>
#include <optional>

namespace tunalo::test {
namespace {

// Text that does not fit its control is cut off on screen: this finds it with the fonts the
// desktop really has.
QStringList cutOffTexts(QWidget& form)
{
    QStringList cut;
    for (QLabel* label : form.findChildren<QLabel*>()) {
        if (label->isHidden() || label->text().isEmpty())
            continue;
        const QSize room = label->contentsRect().size();
        const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                            : label->sizeHint().width() <= label->width() &&
                                                  label->fontMetrics().height() <= room.height();
        if (!fits)
            cut.append(label->text());
    }
    for (QAbstractButton* button : form.findChildren<QAbstractButton*>()) {
        const QFontMetrics metrics(button->font());
        // Check boxes and option buttons carry their mark in front of the text.
        const int mark = qobject_cast<QPushButton*>(button) ? 8 : 24;
        if (metrics.horizontalAdvance(button->text()) + mark > button->width() ||
            metrics.height() > button->height())
            cut.append(button->text());
    }
    return cut;
}

// Controls that lie on one another hide each other's text. A pixel of contact from rounding twips
// does not count; decorations that let the mouse through do not either.
QStringList overlaps(QWidget& form)
{
    std::vector<QWidget*> controls;
    for (QWidget* child : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isHidden() && !child->testAttribute(Qt::WA_TransparentForMouseEvents))
            controls.push_back(child);
    }
    QStringList found;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            const QRect shared = controls[i]->geometry().intersected(controls[j]->geometry());
            if (shared.width() > 2 && shared.height() > 2)
                found.append(controls[i]->objectName() + QStringLiteral("%1/%2").arg(i).arg(j));
        }
    }
    return found;
}

// Text that does not stand out from what is drawn behind it (WCAG's 4.5:1 for body text). The
// background is the nearest one painted: the control's own (a button's, a styled label's) or that of
// the first form under it that fills its background. Greyed-out controls need not be read.
QStringList unreadableTexts(QWidget& form)
{
    QStringList unreadable;
    for (QWidget* widget : form.findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget))
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = button->text();
        else if (auto* frame = qobject_cast<QGroupBox*>(widget))
            text = frame->title();
        if (text.trimmed().isEmpty() || !widget->isVisibleTo(&form) || !widget->isEnabled())
            continue;
        widget->ensurePolished();
        const QColor ink = widget->palette().color(widget->foregroundRole());
        QColor paper = widget->palette().color(widget->backgroundRole());
        if (!qobject_cast<QPushButton*>(widget)) {
            const QWidget* painted = widget;
            while (painted->parentWidget() && !painted->autoFillBackground() &&
                   !painted->testAttribute(Qt::WA_StyledBackground))
                painted = painted->parentWidget();
            paper = painted->palette().color(painted->backgroundRole());
        }
        const double ratio = contrastRatio(ink, paper);
        if (ratio < 4.5)
            unreadable.append(QStringLiteral("%1 (%2 on %3, %4:1)")
                                  .arg(text, ink.name(), paper.name())
                                  .arg(ratio, 0, 'f', 1));
    }
    return unreadable;
}

// Controls a person cannot make out against what lies behind them (WCAG's 3:1 for the parts of a
// control): the edge of a text field or a button, the box of a check box, the ring of an option
// button, as drawn. What lies behind is read from the picture of the form just outside the control.
QStringList faintControls(QWidget& form)
{
    const QImage picture = form.grab().toImage();
    const qreal ratio = picture.devicePixelRatio();
    const auto pixel = [&](QPoint at) {
        const QPoint device = (QPointF(at) * ratio).toPoint();
        return picture.rect().contains(device) ? std::optional<QColor>(picture.pixelColor(device)) : std::nullopt;
    };
    QStringList faint;
    for (QWidget* control : form.findChildren<QWidget*>()) {
        const bool box = qobject_cast<QCheckBox*>(control) || qobject_cast<QRadioButton*>(control);
        if (!box && !qobject_cast<QPushButton*>(control) && !qobject_cast<QLineEdit*>(control))
            continue;
        if (!control->isVisibleTo(&form) || !control->isEnabled())
            continue;
        const QRect place(control->mapTo(&form, QPoint(0, 0)), control->size());
        // The edge: a box's mark, or the outer two pixels of a field or a button.
        QRect edge = place;
        if (box) {
            QStyleOptionButton option;
            option.initFrom(control);
            const auto element =
                qobject_cast<QCheckBox*>(control) ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator;
            edge = control->style()->subElementRect(element, &option, control).translated(place.topLeft());
        }
        double behindRed = 0, behindGreen = 0, behindBlue = 0;
        int behindCount = 0;
        for (const QPoint at : {QPoint(place.left() - 3, place.center().y()), QPoint(place.right() + 3, place.center().y()),
                                QPoint(place.center().x(), place.top() - 3), QPoint(place.center().x(), place.bottom() + 3)}) {
            if (const std::optional<QColor> colour = pixel(at)) {
                behindRed += colour->redF();
                behindGreen += colour->greenF();
                behindBlue += colour->blueF();
                ++behindCount;
            }
        }
        if (behindCount == 0)
            continue;
        const QColor behind = QColor::fromRgbF(static_cast<float>(behindRed / behindCount),
                                               static_cast<float>(behindGreen / behindCount),
                                               static_cast<float>(behindBlue / behindCount));
        double best = 1.0;
        for (int y = edge.top(); y <= edge.bottom(); ++y)
            for (int x = edge.left(); x <= edge.right(); ++x)
                if (box || x - edge.left() < 2 || edge.right() - x < 2 || y - edge.top() < 2 || edge.bottom() - y < 2)
                    if (const std::optional<QColor> colour = pixel({x, y}))
                        best = std::max(best, contrastRatio(*colour, behind));
        if (best < 3.0)
            faint.append(QStringLiteral("%1 \"%2\" (%3:1 on %4)")
                             .arg(QString::fromLatin1(control->metaObject()->className()),
                                  control->property("text").toString())
                             .arg(best, 0, 'f', 1)
                             .arg(behind.name()));
    }
    return faint;
}

// The rows of the window's picture, down one column, where the header band's lower edge is neither
// the band nor the dark line under it: a picture scaled up smears that edge over several rows, one
// drawn at the window's size has at most one.
int softEdgeRows(const QImage& picture)
{
    const int x = picture.width() - 3; // right of the line under the name
    const QColor band = picture.pixelColor(x, 2);
    const QColor line(0x7a, 0x20, 0x08);
    const auto near = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= 24;
    };
    const int end = picture.height() / 4;
    int y = 2;
    while (y < end && near(picture.pixelColor(x, y), band))
        ++y;
    int soft = 0;
    for (; y < end && !near(picture.pixelColor(x, y), line); ++y)
        ++soft;
    return y < end ? soft : end;
}

// How the desktop tells the program its colours: a light theme; a dark one, as a desktop theme
// gives it; or a light theme while the desktop's portal says it prefers dark (GNOME's dark style
// without a platform theme that tells Qt).
enum class Look { Light, ThemeDark, PortalDark };

std::string lookName(Look look)
{
    switch (look) {
    case Look::ThemeDark:
        return "Dark";
    case Look::PortalDark:
        return "DarkByThePortal";
    case Look::Light:
        break;
    }
    return "Light";
}

// The desktop's font size and look the program starts under (a size of 0: as the desktop's theme
// engine gives them). A device pixel ratio of 2 is the same table run with QT_SCALE_FACTOR=2, and a
// real theme engine's dark colours and 12 pt font are qt6ct's (tests/CMakeLists.txt).
using Desktop = std::tuple<int, Look>; // the font's size in points, the colours

class Layout : public AppTest, public ::testing::WithParamInterface<Desktop> {
protected:
    Layout() : m_font(QApplication::font()), m_palette(QApplication::palette())
    {
        if (std::get<0>(GetParam()) == 0)
            return;
        QFont font = m_font;
        font.setPointSize(std::get<0>(GetParam()));
        QApplication::setFont(font);
        if (std::get<1>(GetParam()) == Look::ThemeDark)
            QApplication::setPalette(themeDarkPalette());
        else if (std::get<1>(GetParam()) == Look::PortalDark)
            preferDarkColours(); // what the start does when the portal says so
    }
    ~Layout() override
    {
        app.reset();
        QApplication::setFont(m_font);
        QApplication::setPalette(m_palette);
    }

    static qreal points() { return QApplication::font().pointSizeF(); }

private:
    QFont m_font;
    QPalette m_palette;
};

TEST_P(Layout, EveryTextFitsItsPlaceAndReadsOnTheMainWindowAndEachPanel)
{
    fakes.players->any = true; // the fifth player is running, so its choice is not greyed out
    if (qEnvironmentVariableIsSet("TUNALO_THEME_ENGINE_GIVES")) {
        // The theme engine's own font and colours must have reached the program.
        ASSERT_EQ(QStringLiteral("%1 pt %2")
                      .arg(points())
                      .arg(isLight(QApplication::palette()) ? "light" : "dark")
                      .toStdString(),
                  qEnvironmentVariable("TUNALO_THEME_ENGINE_GIVES").toStdString());
    }
    startUp();
    interface& window = app->form<interface>();
    const qreal ratio = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qgetenv("QT_SCALE_FACTOR").toDouble() : 1.0;
    EXPECT_EQ(window.devicePixelRatioF(), ratio);
    // The design's size at its own font and below it; grown at least with a larger one, in the
    // design's proportions.
    const QSize design(10470 / 15, 7080 / 15);
    if (points() <= 9) {
        EXPECT_EQ(window.size(), design);
    } else {
        EXPECT_GE(window.width(), design.width() * points() / 9);
        EXPECT_NEAR(window.width() * 1.0 / window.height(), design.width() * 1.0 / design.height(), 0.01);
    }
    // The header is sharp at every size the window takes.
    EXPECT_LE(softEdgeRows(window.grab().toImage()), 1);
    app->showmessage(
        QStringLiteral("Please Log-in To Your Facebook Account First"),
        QStringLiteral("You must be logged into Facebook before you can share that you are listening to   "
                       "The Example Band - First Light   as your status (duh!). Please click on 'Home' "
                       "and log into facebook"));
    frmloadhome& loader = app->form<frmloadhome>();
    app->login().notifyDelay_Timer();
    loader.grab();
    app->showplayerpanel();
    app->form<smp>().grab();
    // The options panel tells a refused address in its own colour.
    optionsfrm& options = app->form<optionsfrm>();
    options.Text2->setText(QStringLiteral("no address"));
    options.Text2_Change();
    const std::vector<std::pair<const char*, QWidget*>> forms = {{"main window", &window},
                                                                 {"loader's slow-loading notice", &loader},
                                                                 {"player panel", &app->form<smp>()},
                                                                 {"options", &app->form<optionsfrm>()},
                                                                 {"instructions", &app->form<helpfrm>()},
                                                                 {"about", &app->form<aboutfrm>()},
                                                                 {"message", &app->form<info>()}};
    for (const auto& [name, form] : forms) {
        EXPECT_TRUE(cutOffTexts(*form).isEmpty())
            << name << ": " << cutOffTexts(*form).join(" | ").toStdString();
        EXPECT_TRUE(overlaps(*form).isEmpty()) << name << ": " << overlaps(*form).join(" | ").toStdString();
        EXPECT_TRUE(unreadableTexts(*form).isEmpty())
            << name << ": " << unreadableTexts(*form).join(" | ").toStdString();
        EXPECT_TRUE(faintControls(*form).isEmpty()) << name << ": " << faintControls(*form).join(" | ").toStdString();
    }
    if (std::get<1>(GetParam()) != Look::Light) {
        EXPECT_FALSE(isLight(window.cp->palette())) << "the forms keep light colours under a dark look";
    }
}

// 8 pt is below the design's font: the forms keep the design's sizes.
INSTANTIATE_TEST_SUITE_P(FontsAndThemes, Layout,
                         ::testing::Combine(::testing::Values(8, 9, 10, 11, 12),
                                            ::testing::Values(Look::Light, Look::ThemeDark, Look::PortalDark)),
                         [](const ::testing::TestParamInfo<Desktop>& info) {
                             return std::to_string(std::get<0>(info.param)) + "pt" +
                                    lookName(std::get<1>(info.param));
                         });
INSTANTIATE_TEST_SUITE_P(TheThemeEngines, Layout, ::testing::Values(Desktop{0, Look::Light}),
                         [](const ::testing::TestParamInfo<Desktop>&) { return std::string("Own"); });

} // namespace
} // namespace tunalo::test
