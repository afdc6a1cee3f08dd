// Opens one phone's control window without the main window, for working on
// the stream view. Not part of the client.
//
//   tarvix-open-phone --local [--index N]
//       starts a local cloud on free ports, signs in its demo user and opens
//       that user's phone N (default 0);
//   tarvix-open-phone --api URL --token TOKEN [--phone NUMBER] [--serial SN]
//       uses a running backend and a token already issued; opens the phone
//       with that server SN, or the first of the list.

#include "api/phonerecord.h"
#include "app/appevent.h"
#include "app/logger.h"
#include "api/utils.h"
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "tests/support/localcloud.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

int fail(const QString &message)
{
    QTextStream(stderr) << message << '\n';
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    initTarvixResources();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Opens one cloud phone's control window (developer tool)."));
    parser.addHelpOption();
    const QCommandLineOption local(QStringLiteral("local"), QStringLiteral("Start a local cloud and use its demo user."));
    const QCommandLineOption index(QStringLiteral("index"), QStringLiteral("Which phone of the list (from 0)."),
                                   QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption api(QStringLiteral("api"), QStringLiteral("API base URL."), QStringLiteral("url"));
    const QCommandLineOption token(QStringLiteral("token"), QStringLiteral("Sign-in token."), QStringLiteral("token"));
    const QCommandLineOption phone(QStringLiteral("phone"), QStringLiteral("The user's number."), QStringLiteral("number"));
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("Server SN of the phone."),
                                    QStringLiteral("sn"));
    parser.addOptions({local, index, api, token, phone, serial});
    parser.process(app);

    std::unique_ptr<TestSupport::LocalCloud> cloud;
    ServiceBases bases = Utils::compiledServiceBases();
    QString userToken = parser.value(token);
    QString userPhone = parser.value(phone);
    if (parser.isSet(local)) {
        cloud = std::make_unique<TestSupport::LocalCloud>();
        if (!cloud->isReady())
            return fail(QStringLiteral("local cloud did not start: ") + cloud->errorString());
        bases.api = cloud->apiBase();
        userPhone = TestSupport::LocalCloud::demoPhone();
        userToken = cloud->signIn(userPhone);
        if (userToken.isEmpty())
            return fail(QStringLiteral("sign-in failed: ") + cloud->errorString());
        QTextStream(stdout) << "local cloud: API " << cloud->apiBase() << ", admin " << cloud->adminBase() << '\n';
    } else if (parser.isSet(api) && !userToken.isEmpty()) {
        bases.api = parser.value(api);
    } else {
        parser.showHelp(2);
    }
    Utils::overrideServiceBases(bases);
    Logging::initialize();

    QFile style(QStringLiteral(":/style/style.css"));
    if (style.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(style.readAll()));

    AppEvent::instance()->setPhone(userPhone);
    AppEvent::instance()->setToken(userToken);
    const QVector<PhoneRecord> phones = PhoneRecord::listFromAnswer(Utils::instance()->serverList().toUtf8());
    if (phones.isEmpty())
        return fail(QStringLiteral("the phone list is empty or could not be fetched"));

    PhoneRecord chosen = phones.value(qBound(0, parser.value(index).toInt(), phones.size() - 1));
    if (parser.isSet(serial)) {
        const QString sn = parser.value(serial);
        auto it = std::find_if(phones.cbegin(), phones.cend(), [&](const PhoneRecord &p) { return p.serverSn == sn; });
        if (it == phones.cend())
            return fail(QStringLiteral("no phone with server SN ") + sn);
        chosen = *it;
    }

    const qint64 seconds = QDateTime::currentDateTime().secsTo(
        QDateTime::fromString(chosen.endTime, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    PhoneController window;
    window.show();
    window.setCurrentId(chosen.serverTitle);
    window.setCurrentTime(Utils::remainingTimeText(qint32(qBound<qint64>(INT_MIN, seconds, INT_MAX))));
    window.startStream(chosen.serverSn);
    QObject::connect(&window, &QDialog::finished, &app, &QApplication::quit);
    return app.exec();
}
