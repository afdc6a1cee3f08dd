#pragma once

class QObject;

// Hands the upload window and the configuration push to the parts of the
// client that offer them (a control window's "文件上传" and its drops, the
// batch box's "批量上传文件", a card's "进入云机"), which never link this
// library. The configuration pusher lives as long as owner.
void installUploads(QObject *owner);
