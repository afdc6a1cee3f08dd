#pragma once

#include <QObject>
#include <QString>

class QUrl;
class QWidget;

// The embedded purchase page. The browser behind it lives in a library of
// its own, so nothing else of the phone page links a web engine.
class PurchasePage : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Shows the address on `page` in a fresh browser, replacing (and
    // releasing) whatever an earlier opening left there.
    virtual void open(QWidget *page, const QUrl &url) = 0;

signals:
    // The page's script reported that it is done (the text is not read).
    void finished(const QString &message);
};
