#include "app/overlays.h"

#include "app/chartbuilder.h"
#include "app/filecontrol.h"
#include "chart/chart.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace app {

namespace {

QString Title()
{
    return QCoreApplication::translate("app::Overlays", "Наложить запись");
}

QString SamplesUnit()
{
    return QCoreApplication::translate("app::Overlays", "выборки");
}

} // namespace

Overlays::Overlays(chart::TChart &chart, const ChartBuilder &builder, QWidget *dialogParent,
    std::function<void(const QString &)> showMessage, QObject *parent)
    : QObject(parent)
    , m_chart(chart)
    , m_builder(builder)
    , m_dialogParent(dialogParent)
    , m_showMessage(std::move(showMessage))
{
    chooseFiles = [this] { return execFileDialog(); };
    askShift = [this](const QString &unit) { return execShiftDialog(unit); };
    startFolder = [] { return FileControl::storeFolder(); };
}

// The chart goes before its owner's other children: the series are left to it.
Overlays::~Overlays() = default;

QStringList Overlays::names() const
{
    QStringList result;
    for (const Item &item : m_items)
        result << item.series.entry->Name();
    return result;
}

QString Overlays::shiftUnit() const
{
    const sig::DisplaySettings controls = m_builder.displaySettings();
    if (!sig::isTimeMode(controls.axisMode))
        return SamplesUnit();
    // With no unit selected the builds keep the last one.
    const QStringList &units = sig::timeUnitNames();
    for (int i = 0; i < units.size(); ++i)
        if (i == controls.timeUnitIndex
            || (controls.timeUnitIndex < 0
                && sig::timeUnitDivisor(i) == m_builder.decoder().unitDivisor()))
            return sig::displayedTimeUnit(units.at(i));
    return sig::displayedTimeUnit(units.at(1));
}

void Overlays::addClick()
{
    const QStringList paths = chooseFiles();
    if (paths.isEmpty())
        return;
    const std::optional<double> shift = askShift(shiftUnit());
    if (!shift)
        return;
    add(paths, *shift);
}

QString Overlays::problemText(const files::DataFileProblem &problem)
{
    switch (problem.status) {
    case files::DataFileStatus::Ok:
        return {};
    case files::DataFileStatus::CannotOpen:
        if (problem.systemError == EISDIR)
            return tr("это папка, а не файл данных");
        return tr("файл не открывается: %1")
            .arg(QString::fromLocal8Bit(std::strerror(problem.systemError)));
    case files::DataFileStatus::NotRegularFile:
        return tr("это не обычный файл, а устройство или канал");
    case files::DataFileStatus::NotInstrumentFile:
        return problem.fileTypeField
            ? tr("это не файл данных АЦП (поле типа %1 вместо 1)").arg(*problem.fileTypeField)
            : tr("это не файл данных АЦП");
    case files::DataFileStatus::Truncated:
        return tr("файл обрывается: %1 байт из %2").arg(problem.fileSize).arg(problem.needed);
    }
    return {};
}

void Overlays::add(const QStringList &paths, double shift)
{
    const sig::DisplaySettings controls = m_builder.displaySettings();
    QStringList failures;
    bool added = false;
    for (const QString &path : paths) {
        // The whole file is read and checked first; its comment is not kept.
        files::DataFile file;
        files::DataFileProblem problem;
        if (files::readDataFile(path, &file, nullptr, &problem) != files::DataFileStatus::Ok) {
            failures << QStringLiteral("%1 — %2").arg(
                QDir::toNativeSeparators(path), problemText(problem));
            continue;
        }
        Item item;
        item.path = path;
        item.header = file.header;
        item.data = std::move(file.data);
        item.shift = shift;
        item.series = chart::addOverlaySeries(m_chart, chart::overlayName(path), count());
        m_items.push_back(std::move(item));
        draw(m_items.back(), controls);
        added = true;
    }
    if (added)
        emit changed();
    if (!failures.isEmpty())
        m_showMessage((failures.size() == 1 ? tr("Запись не наложена на график:\n")
                                            : tr("Записи не наложены на график:\n"))
            + failures.join(u'\n'));
}

void Overlays::clear()
{
    if (m_items.empty())
        return;
    for (const Item &item : m_items)
        chart::removeOverlaySeries(m_chart, item.series);
    m_items.clear();
    m_decoded = {};
    std::vector<double>().swap(m_x);
    emit changed();
}

void Overlays::redraw()
{
    if (m_items.empty())
        return;
    const sig::DisplaySettings controls = m_builder.displaySettings();
    for (Item &item : m_items)
        draw(item, controls);
}

void Overlays::followColours()
{
    for (const Item &item : m_items)
        chart::followChannelColours(m_chart, item.series);
}

void Overlays::draw(Item &item, const sig::DisplaySettings &controls)
{
    sig::DisplaySettings own = controls;
    sig::applyFileHeader(own, item.header);
    // A copy of the builds' decoder: a unit or mode not selected is taken as they took it,
    // and their own state is left as it is.
    sig::ChartDecoder decoder = m_builder.decoder();
    const Item::Decode with { own, decoder.unitDivisor(), decoder.pointStep() };
    if (item.drawnWith == with) {
        chart::followChannelColours(m_chart, item.series);
        return;
    }
    decoder.decode(item.data, own, m_decoded);
    if (!item.stepKnown) {
        item.step = m_decoded.PointStep;
        item.stepKnown = true;
    }
    // Before the window's first build the axes are titled for no mode yet.
    if (!m_builder.lastRecording())
        chart::setAxisTitles(m_chart, m_decoded);
    chart::followChannelColours(m_chart, item.series);
    const double shift = xShift(item, m_decoded);
    chart::setOverlayPoints(item.series, m_decoded, shift, m_x);
    // The legend names the shift in the unit of the chart's X now.
    const QString unit = sig::isTimeMode(own.axisMode) ? shiftUnit() : chart::samplesShiftUnit();
    chart::setOverlayShift(item.series, chart::shiftCaption(shift, unit, QLocale::system()));
    item.drawnWith = with;
}

double Overlays::xShift(const Item &item, const sig::DecodedRecording &r)
{
    if (item.shift == 0 || r.PointStep == item.step)
        return item.shift;
    // An X step of 0 (no interval in the file) or one that is not finite cannot carry the
    // shift over: it stays as given.
    if (!std::isfinite(item.step) || item.step == 0 || !std::isfinite(r.PointStep))
        return item.shift;
    return item.shift / item.step * r.PointStep;
}

QFileDialog *Overlays::fileDialog()
{
    if (!m_fileDialog) {
        m_fileDialog = new QFileDialog(m_dialogParent, Title());
        m_fileDialog->setObjectName(QStringLiteral("OverlayDlg"));
        m_fileDialog->setOption(QFileDialog::DontUseNativeDialog);
        m_fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
        m_fileDialog->setFileMode(QFileDialog::ExistingFiles);
        m_fileDialog->setNameFilters(FileControl::openFilters());
    }
    return m_fileDialog;
}

QStringList Overlays::execFileDialog()
{
    QFileDialog *dialog = fileDialog();
    if (startFolder)
        if (const QString folder = startFolder(); !folder.isEmpty())
            dialog->setDirectory(folder);
    const int result = dialog->exec();
    FileControl::closeCompletionLists(dialog);
    return result == QDialog::Accepted ? dialog->selectedFiles() : QStringList();
}

std::optional<double> Overlays::execShiftDialog(const QString &unit)
{
    QDialog dialog(m_dialogParent);
    dialog.setObjectName(QStringLiteral("OverlayShiftDlg"));
    dialog.setWindowTitle(Title());
    auto *label = new QLabel(tr("Сдвиг по оси X, %1:").arg(unit), &dialog);
    auto *shift = new QDoubleSpinBox(&dialog);
    shift->setObjectName(QStringLiteral("seShift"));
    shift->setRange(-1e9, 1e9);
    shift->setDecimals(unit == SamplesUnit() ? 0 : 3);
    shift->setValue(0);
    label->setBuddy(shift);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addWidget(shift);
    layout->addWidget(buttons);
    // Wide enough for the whole title beside the window manager's buttons.
    QFont titleFont = dialog.font();
    titleFont.setBold(true);
    dialog.setMinimumWidth(QFontMetrics(titleFont).horizontalAdvance(Title()) + 160);
    shift->setToolTip(tr("Наложенная запись сдвигается вправо на это значение"));
    shift->setFocus();
    shift->selectAll();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return shift->value();
}

} // namespace app
