#include "acquisition/samplingparameters.h"
#include "app/form1.h"
#include "app/form1ui.h"
#include "app/icons.h"
#include "app/regionpanel.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "app/windowplacement.h"
#include "chart/chart.h"
#include "files/inifile.h"
#include "files/settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QToolButton>
#include <algorithm>
#include <climits>

using acquisition::Field;

namespace app {

// ---------------------------------------------------------------------------------------
// Start-up and shutdown

void TForm1::startUp()
{
    m_work->setRecordedByCycle(false);
    ui->btSaveChart->move(ui->btSaveChart->x(), ui->Chart1->height() - 26);

    // The settings file is read once, here; missing keys give their defaults.
    const files::IniFile file(m_settingsPath);
    const files::Settings s = files::Settings::read(file);

    // Geometry, held within reach: at least the folded size and at most the desktop, and
    // moved so that its title area lies on a screen (settings from a desk with a second
    // monitor, or sizes of 0, would otherwise come back invisible at every start).
    QList<QRect> screens = m_environment.availableScreens;
    if (screens.isEmpty())
        for (const QScreen *each : QGuiApplication::screens())
            screens << each->availableGeometry();
    const QRect frame = placeWindow(QPoint(s.left, s.top), QSize(s.width, s.height), screens);
    setWindowHeight(frame.height());
    setWindowWidth(frame.width());
    setWindowLeft(frame.x());
    setWindowTop(frame.y());
    m_placedPosition = frame.topLeft();
    m_normalOuter = frame;
    FormResize();
    // A window that was maximised comes back so; the geometry above is the one it takes when
    // it is no longer maximised.
    if (s.maximized)
        setWindowState(windowState() | Qt::WindowMaximized);

    // Display options. Selected indexes are set by program: no change handler runs.
    for (auto [box, index] : { std::pair { ui->cbXscale, s.xScale },
             std::pair { ui->cbShowK, s.xyMode }, std::pair { ui->cbTrng, s.tRange } }) {
        const bool blocked = box->blockSignals(true);
        box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
        box->blockSignals(blocked);
    }
    m_sampling->setAveraging(s.smoothInController);
    ui->seInt->assign(s.integrateSamples);

    // Channel colours and visibility; a check box whose state changes runs its click handler.
    for (int i = 0; i < files::ChannelCount; ++i) {
        ui->swatches.at(i)->setColorValue(quint32(s.colors.at(i)));
        applySeriesColor(i);
        ui->channelBoxes.at(i)->setChecked(s.shown.at(i));
    }
    // Cycle options and the temperature axis.
    ui->cb1file->setChecked(s.writeToOneFile);
    ui->cbChartClear->setChecked(s.clearChart);
    m_sampling->assign(Field::sePointChart, s.chartSkipPoints);
    ui->seYmax->assign(s.yMax);
    ui->seYmin->assign(s.yMin);
    m_recentFiles = s.recentFiles;
    rebuildRecentMenu();
    m_languageCode = s.language;
    updateLanguageMenu();
    // The readout is off: its hint says how to switch it on.
    ui->status->setPanelText(1, tr("Щелкните для отображения X,Y"));
    // Launch type: pre-set one below the stored value (1 when that is negative), then let the
    // button's handler toggle it, so that picture and hint match. 0 and 1 come back unchanged.
    m_launchType = s.launchType <= 0 ? 1 : s.launchType - 1;
    btExtrnClick();

    // Frequency/time panel: stored block count (seSamples runs its change handler), stored
    // Time4allSRAM, frequency and the time that follows from them.
    m_sampling->setSRAMblocksFromSettings(s.sramBlocks);
    m_sampling->setTime4allSRAM(s.time4allSram);
    m_sampling->assign(Field::seF, s.frequency);
    const qint64 time = qint64(m_sampling->Time4allSRAM()) * m_sampling->SRAMblocks() / 8;
    m_sampling->assign(Field::seTime, int(std::clamp<qint64>(time, INT_MIN, INT_MAX)));

    // A full recording (up to 240000 points a series) then goes into the chart without the
    // point lists growing step by step.
    chart::setDefaultListCapacity(700000);
    // Started to look at a recording (a file named on the command line, as a file manager
    // opens one): a missing board is said in the status bar only, not by a box that the user
    // must close before the recording shows.
    m_quietNotFound = !m_options.file.isEmpty();
    ConnectInstrument();
    m_quietNotFound = false;
    // Run-time bounds, stored without re-checking the values shown.
    m_sampling->setBounds(
        Field::seTime, acquisition::ShortestTime4allSRAM, acquisition::LongestTime4allSRAM);
    m_sampling->setBounds(
        Field::seF, acquisition::LowestFrequencyHz, acquisition::HighestFrequencyHz);
    // The time follows the stored frequency from here on.
    m_sampling->seSamplesChange();
    m_sampling->UpdateChannelMask();
}

void TForm1::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    // The session lets go of the port: nothing measures once the window has shut down. The
    // port itself closes when the window is destroyed.
    m_session->setPort(nullptr);
    setMeasurementButtonsEnabled(false);
    // Every key, even those equal to their defaults. A spin field yields its value within
    // its bounds, also while a typed value has not been taken by leaving the field yet.
    const auto boundedValue = [this](Field field) {
        const acquisition::SpinField &f = m_sampling->field(field);
        return std::clamp(f.value, f.minimum, std::max(f.minimum, f.maximum));
    };
    files::Settings s;
    // The panel of the cursors gives back the height it added to the window.
    s.height = windowHeight() - m_regionPanel->windowGrowth();
    s.width = windowWidth();
    s.left = m_framed ? x() : m_placedPosition.x();
    s.top = m_framed ? y() : m_placedPosition.y();
    // A maximised window keeps the geometry it takes when it is no longer maximised.
    s.maximized = isMaximized();
    if (s.maximized && m_normalOuter.isValid()) {
        s.left = m_normalOuter.x();
        s.top = m_normalOuter.y();
        s.width = m_normalOuter.width();
        s.height = m_normalOuter.height();
    }
    s.frequency = boundedValue(Field::seF);
    s.time4allSram = m_sampling->Time4allSRAM();
    s.sramBlocks = m_sampling->SRAMblocks();
    s.launchType = m_launchType;
    s.xScale = ui->cbXscale->currentIndex();
    s.xyMode = ui->cbShowK->currentIndex();
    s.tRange = ui->cbTrng->currentIndex();
    s.integrateSamples = std::clamp(
        ui->seInt->currentValue(), ui->seInt->minimumValue(), ui->seInt->maximumValue());
    s.smoothInController = ui->cbAvgMC->isChecked();
    for (int i = 0; i < files::ChannelCount; ++i) {
        s.colors.at(i) = int(ui->swatches.at(i)->colorValue());
        s.shown.at(i) = ui->channelBoxes.at(i)->isChecked();
    }
    s.writeToOneFile = ui->cb1file->isChecked();
    s.clearChart = ui->cbChartClear->isChecked();
    s.chartSkipPoints = boundedValue(Field::sePointChart);
    s.yMax = std::clamp(
        ui->seYmax->currentValue(), ui->seYmax->minimumValue(), ui->seYmax->maximumValue());
    s.yMin = std::clamp(
        ui->seYmin->currentValue(), ui->seYmin->minimumValue(), ui->seYmin->maximumValue());
    s.recentFiles = m_recentFiles;
    s.language = m_languageCode;
    files::IniFile file(m_settingsPath);
    if (!s.write(file))
        reportSettingsNotWritten();
}

void TForm1::reportSettingsNotWritten()
{
    // The journal's line stays English; the box speaks the window's language.
    emit settingsWriteFailed(QStringLiteral("Unable to write to %1").arg(m_settingsPath));
    showMessage(tr("Не удаётся записать в %1").arg(m_settingsPath));
}

} // namespace app
