// The fixture of the window tests: a window on a settings file in a temporary folder, on a
// machine without the instrument.

#pragma once

#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "acquisition/terminationsignals.h"
#include "app/appoptions.h"
#include "app/closeontermination.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "files/inifile.h"
#include "files/settings.h"
#include "tests/app/testenvironment.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

using acquisition::Field;
using app::TForm1;
using files::ChannelId;
using files::IniFile;
namespace K = files::SettingsKeys;

namespace formtest {

const QColor Red(255, 0, 0);
const QColor Black(0, 0, 0);
const QString NotFound = QStringLiteral("АЦП не обнаружено");

class FormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("Ferrun.ini"));
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    }

    void writeIni(const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    void writeIni(const QString &text) { writeIni(text.toUtf8()); }

    // A window on a machine without the instrument: discovery looks in an empty tree.
    TForm1 &open()
    {
        app::FormEnvironment environment = apptest::environmentIn(dir, messages);
        form = std::make_unique<TForm1>(path, app::AppOptions {}, environment);
        return *form;
    }

    // The commands the session has sent (or tried to send: the port is closed here).
    std::unique_ptr<QSignalSpy> spyCommands()
    {
        return std::make_unique<QSignalSpy>(
            &form->session(), &acquisition::MeasurementSession::commandSent);
    }

    static QByteArray command(const QSignalSpy &spy, int index)
    {
        return spy.at(index).at(0).toByteArray();
    }

    // Shows the window and makes it active, so that controls can take the focus.
    void showActive(TForm1 &f)
    {
        f.show();
        QApplication::setActiveWindow(&f);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&f));
    }

    // Closes the window the normal way and reads back what it wrote.
    IniFile closeAndRead()
    {
        form->close();
        return IniFile(path);
    }

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<TForm1> form;
    QStringList messages;
};

} // namespace formtest
