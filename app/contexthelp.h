#pragma once

#include "app/language.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTextBrowser>

class QWidget;

namespace app {

// Context help. Each control carries its topic number in the dynamic property
// "helpTopic"; a control without one takes its nearest parent's. F1 opens the help at the
// topic of the focused control; Shift+F1 (or the window's "?" button) arms a pick mode in
// which the next click opens the topic of the clicked control instead of acting on it.
//
// The application's help file is named "Ferrun.HLP"; its topics are bundled as HTML pages in
// the resources, Russian (":/help/topicN.html") and English (":/help/en/topicN.html"), and
// shown in a small viewer window in the window's language.
class ContextHelp : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *topicProperty = "helpTopic";

    explicit ContextHelp(QObject *parent = nullptr);
    ~ContextHelp() override;

    static void setTopic(QWidget *widget, int topic);
    // The topic of the widget or of its nearest parent with one; 0 when none has one.
    static int topicFor(const QWidget *widget);
    // Resource page of a topic of the help file in the window's language; empty when there is
    // no such page.
    static QString pageFor(const QString &helpFile, int topic);
    // The same in the given language; a topic without an English page gets its Russian one.
    static QString pageFor(const QString &helpFile, int topic, UiLanguage language);

    // The name of the help file (a bare name, as the program entry sets it).
    static QString helpFile();
    static void setHelpFile(const QString &name);

    // Opens the viewer at the topic; false when the topic has no page.
    bool showTopic(int topic);
    void enterPickMode();
    bool pickMode() const { return m_pickMode; }
    // The viewer window (created on first use), or nullptr.
    QTextBrowser *viewer() const { return m_viewer; }
    int shownTopic() const { return m_shownTopic; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QTextBrowser> m_viewer;
    bool m_pickMode = false;
    int m_shownTopic = 0;
};

} // namespace app
