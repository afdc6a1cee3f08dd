#include "upload/uploadwiring.h"

#include "phones/mainwindow.h"
#include "phones/phonedetail.h"
#include "stream/videorender.h"
#include "upload/uploadconfigfile.h"
#include "upload/uploadfiles.h"

void installUploads(QObject *owner)
{
    VideoRender::setUploadOpener(&UploadFiles::open);
    MainWindow::setUploadOpener(&UploadFiles::open);
    VideoRender::setFileDropHandler(
        [](const QString &phoneName, const QString &serverSn, const QStringList &paths, QWidget *anchor) {
            UploadFiles *window = UploadFiles::instance();
            window->queueForPhone(phoneName, serverSn, paths);
            window->showPage(1);
            window->showOver(anchor);
        });
    auto *configPush = new uploadConfigFile(owner);
    PhoneDetail::setConfigPusher([configPush](const QString &serverSn, int sid, int idcId, const QString &idcSn,
                                              const QString &orderSn, int serid) {
        configPush->pushConfig(serverSn, sid, idcId, idcSn, orderSn, serid);
    });
}
