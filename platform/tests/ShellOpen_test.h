#pragma once
// Stands in for the desktop: records every address it is asked to open.
#include <QList>
#include <QObject>
#include <QUrl>

class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.append(url); }
};
