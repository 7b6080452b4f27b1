// A window without the instrument whose file dialogs answer from queues, and real data files
// in a temporary folder: shared by the data file and the catalogue tests.
#pragma once

#include "acquisition/measurementsession.h"
#include "app/contexthelp.h"
#include "app/filecontrol.h"
#include "app/form1.h"
#include "chart/chart.h"
#include "files/datafile.h"
#include "sim/boardsimulator.h"
#include "tests/app/testenvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

// Readable failure output for texts and lists of texts.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &texts, std::ostream *out)
{
    *out << '[' << texts.join(QStringLiteral("|")).toStdString() << ']';
}

namespace filewindow {

inline QByteArray words(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int w : values) {
        bytes.append(char(w & 0xFF));
        bytes.append(char((w >> 8) & 0xFF));
    }
    return bytes;
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// A data file of the channels in `bits` with `data` and `comment`, as the program writes it
// (its scale that of the 500° range unless given).
inline void writeDataFile(const QString &path, quint8 bits, const QByteArray &data,
    const QString &comment, double intervalUs = 100, double valueScale = files::ValueScale500)
{
    files::DataFileHeader h;
    h.ChartChannelBits = bits;
    h.ChannelIntervalUs = intervalUs;
    h.ValueScale = valueScale;
    h.XTitle = QStringLiteral("Время, мкс");
    h.YTitle = QStringLiteral("Температура");
    writeBytes(path, files::encodeDataFile(h, data, comment));
}

// A file of the same extension that is not the program's: its first field is not 1.
inline void writeForeignFile(const QString &path)
{
    writeBytes(path, QByteArray::fromHex("0200100101000000"));
}

class FileWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    }

    QString file(const QString &name) const { return dir.filePath(name); }

    // T1 alone, degrees against time in ms, "250°", no integration.
    // On the instrument at `device` when given.
    app::TForm1 &open(const QString &device = {})
    {
        QString ini = QStringLiteral("[Options]\r\nXYmode=0\r\nX scale=1\r\nTrange=0\r\n"
                                     "[Series select]\r\n");
        for (int n = 2; n <= 7; ++n)
            ini += QStringLiteral("Channel %1=0\r\n").arg(n);
        const QString settings = file(QStringLiteral("Ferrun.ini"));
        {
            QFile out(settings);
            EXPECT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(ini.toUtf8());
        }
        app::AppOptions options;
        options.device = device;
        form = std::make_unique<app::TForm1>(settings, options, environment());
        app::FileControl &fc = form->fileControl();
        fc.chooseSaveFile = [this](const QString &proposed) -> std::optional<app::SaveChoice> {
            proposals << proposed;
            if (saveAnswers.empty())
                return std::nullopt;
            const app::SaveChoice answer = saveAnswers.front();
            saveAnswers.pop_front();
            return answer;
        };
        fc.chooseOpenFile = [this] {
            ++openDialogs;
            if (openAnswers.empty())
                return QString();
            const QString answer = openAnswers.front();
            openAnswers.pop_front();
            return answer;
        };
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        if (device.isEmpty())
            messages.clear(); // "АЦП не обнаружено" from the start-up's discovery
        return *form;
    }

    // The board simulator (recordings 100 times faster than the board's), and the window on it.
    app::TForm1 &openOnBoard()
    {
        sim::BoardOptions options;
        options.speed = 100;
        board = std::make_unique<sim::BoardSimulator>(options);
        std::string error;
        EXPECT_TRUE(board->start(&error)) << error;
        return open(QString::fromStdString(board->devicePath()));
    }

    // The window's surroundings: its messages collected, no device tree to find a board in.
    app::FormEnvironment environment() { return apptest::environmentIn(dir, messages); }

    void save(const QString &path, app::SaveFilter filter = app::SaveFilter::AdcFiles)
    {
        saveAnswers.push_back({ path, filter });
        QTest::mouseClick(control<QToolButton>(*form, "btSave"), Qt::LeftButton);
    }

    void load(const QString &path)
    {
        openAnswers.push_back(path);
        QTest::mouseClick(control<QToolButton>(*form, "btLoadFile"), Qt::LeftButton);
    }

    // Everything a load may change, to compare before and after a refused one.
    struct Display
    {
        std::array<bool, 8> boxes {};
        bool averaging = false;
        double intervalUs = 0;
        QString xTitle;
        QByteArray buffer;
        QString comment;
        QString caption;
        QString leftTitle;
        int t1Points = 0;
        files::DataFileHeader header;
        bool operator==(const Display &o) const
        {
            return boxes == o.boxes && averaging == o.averaging && intervalUs == o.intervalUs
                && xTitle == o.xTitle && buffer == o.buffer && comment == o.comment
                && caption == o.caption && leftTitle == o.leftTitle && t1Points == o.t1Points
                && encoded(header) == encoded(o.header);
        }
        static QByteArray encoded(const files::DataFileHeader &h)
        {
            return files::encodeDataFile(h, {}, {});
        }
    };
    Display display() const
    {
        Display d;
        for (int i = 0; i < 8; ++i)
            d.boxes.at(size_t(i)) = channelBox(*form, size_t(i))->isChecked();
        d.averaging = control<QCheckBox>(*form, "cbAvgMC")->isChecked();
        d.intervalUs = form->recording().header.ChannelIntervalUs;
        d.xTitle = form->recording().header.XTitle;
        d.buffer = form->recording().data;
        d.comment = control<QPlainTextEdit>(*form, "mComment")->toPlainText();
        d.caption = control<QGroupBox>(*form, "gbFile")->title();
        d.leftTitle = chartOf(*form)->LeftAxis()->Title().Caption();
        d.t1Points = form->series(files::ChannelId::T1)->Count();
        d.header = form->fileControl().headerRecord();
        return d;
    }

    QTemporaryDir dir;
    QStringList messages;
    QStringList proposals;
    std::deque<app::SaveChoice> saveAnswers;
    std::deque<QString> openAnswers;
    int openDialogs = 0;
    std::unique_ptr<sim::BoardSimulator> board; // outlives the window
    std::unique_ptr<app::TForm1> form;
};

} // namespace filewindow
