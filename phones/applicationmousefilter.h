#pragma once

#include <QObject>

// Stands in for the system-wide mouse listener where the system offers
// none: installed on the application, it hands the mouse actions inside
// the client's own windows to GlobalMouseEvent. It never consumes an event.
class ApplicationMouseFilter final : public QObject
{
    Q_OBJECT

public:
    explicit ApplicationMouseFilter(QObject *parent = nullptr);
    ~ApplicationMouseFilter() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(ApplicationMouseFilter)
};
