// Texts of the panels readable whatever the system font.
#include "app/language.h"
#include "app/translation.h"
#include "filewindow.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QToolButton>

namespace {

using filewindow::FileWindowTest;

// The room a combo box leaves for the text of its current item.
int comboTextRoom(QComboBox *box)
{
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = box->isEditable();
    option.frame = box->hasFrame();
    return box->style()
        ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box)
        .width();
}

// Every combo box, label and check box of a panel shows its text whole.
void expectTextsWhole(QWidget *panel)
{
    for (QComboBox *box : panel->findChildren<QComboBox *>()) {
        const QFontMetrics fm(box->font());
        for (int i = 0; i < box->count(); ++i)
            EXPECT_LE(fm.horizontalAdvance(box->itemText(i)), comboTextRoom(box))
                << box->objectName().toStdString() << ": " << box->itemText(i).toStdString();
        // Inside the panel, not under its neighbours.
        EXPECT_LE(box->geometry().right(), box->parentWidget()->contentsRect().right())
            << box->objectName().toStdString();
    }
    for (QLabel *label : panel->findChildren<QLabel *>()) {
        if (label->text().isEmpty() || !label->isVisibleTo(panel))
            continue;
        EXPECT_LE(label->sizeHint().width(), label->width())
            << label->objectName().toStdString() << ": " << label->text().toStdString();
    }
    for (QGroupBox *group : panel->findChildren<QGroupBox *>()) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxLabel;
        const QRect label = group->style()->subControlRect(
            QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
        EXPECT_LE(QFontMetrics(group->font()).horizontalAdvance(group->title()), label.width())
            << group->objectName().toStdString() << ": " << group->title().toStdString();
        EXPECT_LE(label.right(), group->width()) << group->objectName().toStdString();
    }
    for (QPushButton *button : panel->findChildren<QPushButton *>())
        EXPECT_LT(
            QFontMetrics(button->font()).horizontalAdvance(button->text()), button->width() - 6)
            << button->objectName().toStdString() << ": " << button->text().toStdString();
    for (QToolButton *button : panel->findChildren<QToolButton *>()) {
        // A button with an icon only shows no text; without an icon the text shows.
        const bool iconOnly
            = !button->icon().isNull() && button->toolButtonStyle() == Qt::ToolButtonIconOnly;
        if (!button->text().isEmpty() && !iconOnly) {
            EXPECT_LE(button->sizeHint().width(), button->width())
                << button->objectName().toStdString() << ": " << button->text().toStdString();
        }
    }
    for (QCheckBox *box : panel->findChildren<QCheckBox *>())
        EXPECT_LE(box->sizeHint().width(), box->width())
            << box->objectName().toStdString() << ": " << box->text().toStdString();
}

class PanelTextsTest : public FileWindowTest, public ::testing::WithParamInterface<app::UiLanguage>
{
};

// In either language, at the window's first size: the whole window (the top bar, the channel
// bar, the hidden catalogue's search row), then the options and frequency/time panels.
TEST_P(PanelTextsTest, CaptionsShowWhole)
{
    const app::UiTranslation translation(GetParam());
    app::TForm1 &f = open();
    expectTextsWhole(&f);
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    ASSERT_TRUE(control<QGroupBox>(f, "gbOptions")->isVisible());
    expectTextsWhole(control<QGroupBox>(f, "gbOptions"));
    // The axis-mode box keeps to its group, clear of the colour swatches.
    auto *colours
        = control<QGroupBox>(f, "gbOptions")->findChild<QWidget *>(QStringLiteral("gbColors"));
    ASSERT_TRUE(colours);
    EXPECT_LT(control<QComboBox>(f, "cbShowK")->parentWidget()->geometry().right(),
        colours->geometry().left());
    EXPECT_LE(colours->geometry().right(), control<QGroupBox>(f, "gbOptions")->width());
    // The dropped-down list shows the longest mode whole.
    control<QComboBox>(f, "cbShowK")->showPopup();
    QWidget *popup = control<QComboBox>(f, "cbShowK")->view()->window();
    const QFontMetrics fm(control<QComboBox>(f, "cbShowK")->view()->font());
    for (int i = 0; i < control<QComboBox>(f, "cbShowK")->count(); ++i)
        EXPECT_LE(
            fm.horizontalAdvance(control<QComboBox>(f, "cbShowK")->itemText(i)), popup->width());
    control<QComboBox>(f, "cbShowK")->hidePopup();
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);

    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    ASSERT_TRUE(control<QGroupBox>(f, "gbFT")->isVisible());
    expectTextsWhole(control<QGroupBox>(f, "gbFT"));
}

INSTANTIATE_TEST_SUITE_P(Languages, PanelTextsTest,
    ::testing::Values(app::UiLanguage::Russian, app::UiLanguage::English),
    [](const auto &info) { return app::languageCode(info.param).toStdString(); });

} // namespace
