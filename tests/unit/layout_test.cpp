#include "support/appfixture.h"
#include "ui/aboutfrm.h"
#include "ui/cpanel.h"
#include "ui/helpfrm.h"
#include "ui/info.h"
#include "ui/interface.h"
#include "ui/optionsfrm.h"
#include "ui/smp.h"
#include "web/frmloadhome.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>

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

using Layout = AppTest;

TEST_F(Layout, EveryTextFitsItsPlaceOnTheMainWindowAndEachPanel)
{
    startUp();
    interface& window = app->form<interface>();
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
    }
}

} // namespace
} // namespace tunalo::test
