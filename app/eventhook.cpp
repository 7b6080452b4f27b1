#include "app/eventhook.h"

namespace app {

namespace {

class EventHook : public QObject
{
public:
    EventHook(QObject *watched, std::function<bool(QEvent *)> handler)
        : QObject(watched)
        , m_handler(std::move(handler))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override { return m_handler(event); }

private:
    std::function<bool(QEvent *)> m_handler;
};

} // namespace

QObject *hookEvents(QObject *watched, std::function<bool(QEvent *)> handler)
{
    return new EventHook(watched, std::move(handler));
}

} // namespace app
